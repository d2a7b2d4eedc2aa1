#include "CatalogText.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::HasSubstr;

constexpr const char* kGuid = "6F2C7A41-0B3E-4D5A-9C11-2E8B4F7D1A01";

// A catalog of one line after the header, with `language` and `vendor`.
bool ParseOne(const std::string& language, const std::string& vendor, std::string* detail,
              CatalogPatch* parsed = nullptr) {
    CatalogTable lines;
    const bool ok = ParseCatalogText("guid,language,vendor_file,title\n" + std::string(kGuid) +
                                         "," + language + "," + vendor + ",title\n",
                                     &lines, detail);
    if (ok && parsed != nullptr) {
        *parsed = lines.Patches().at(0);
    }
    return ok;
}

TEST(CatalogText, LanguagesAreDecimalWithoutALeadingZeroOrHex) {
    const std::pair<const char*, uint16_t> accepted[] = {{"1033", 1033},     {"0x0409", 0x409},
                                                         {"0X40c", 0x40C},   {"65535", 0xFFFF},
                                                         {"0xFFFF", 0xFFFF}, {"7", 7}};
    for (const auto& [text, value] : accepted) {
        std::string detail;
        CatalogPatch line;
        ASSERT_TRUE(ParseOne(text, "a.msp", &detail, &line)) << text << ": " << detail;
        EXPECT_EQ(line.key.languageId, value) << text;
    }
    // Octal by accident, signs, blanks, wrapping and overflow are all refused alike.
    for (const char* text : {"0407", "0", "0x0", "00", "+1033", " 1033", "1033 ", "-4294966263",
                             "4294968329", "65536", "0x10000", "0x", "1e3", "0x-1", ""}) {
        std::string detail;
        EXPECT_FALSE(ParseOne(text, "a.msp", &detail)) << "'" << text << "'";
        EXPECT_EQ(detail, "line 2: expected guid,language,vendor_file,title") << text;
    }
}

TEST(CatalogText, GuidsAre8_4_4_4_12HexDigitsWithBothBracesOrNone) {
    PatchGuid id;
    ASSERT_TRUE(ParsePatchGuid("{6f2c7a41-0B3E-4d5a-9C11-2e8b4f7d1a01}", &id));
    EXPECT_EQ(PatchGuidText(id), kGuid);
    EXPECT_EQ(id.data1, 0x6F2C7A41u);
    EXPECT_EQ(id.data4[7], 0x01);
    const std::string g = kGuid;
    for (const std::string& bad : std::vector<std::string>{
             "x" + g + "y", "{" + g + "y", "x" + g + "}", "{" + g, g + "}", g.substr(0, 35),
             g + "0", g.substr(0, 8) + "+" + g.substr(9), "6F2C7A41-0B3E-4D5A-9C11-2E8B4F7D1AG1",
             "6F2C7A410-B3E-4D5A-9C11-2E8B4F7D1A01", ""}) {
        EXPECT_FALSE(ParsePatchGuid(bad, &id)) << bad;
    }
}

TEST(CatalogText, OnlyTheFirstLineMayBeTheHeader) {
    CatalogTable lines;
    std::string detail;
    const std::string patch = std::string(kGuid) + ",0x0409,a.msp,\n";
    EXPECT_TRUE(ParseCatalogText("\xEF\xBB\xBFguid,language\r\n\r\n" + patch, &lines, &detail));
    EXPECT_EQ(lines.Patches().at(0).line, 3);
    EXPECT_FALSE(ParseCatalogText(patch + "guid,language,vendor_file,title\n", &lines, &detail));
    EXPECT_EQ(detail, "line 2: expected guid,language,vendor_file,title");
    EXPECT_FALSE(
        ParseCatalogText("\n" + std::string("guid,language,vendor_file,title\n"), &lines, &detail));
    EXPECT_EQ(detail, "line 2: expected guid,language,vendor_file,title");
}

TEST(CatalogText, VendorNamesWithControlCharactersOrDeviceNamesLeaveTheFolder) {
    const std::u16string refused[] = {std::u16string(u"CON\0x", 5),
                                      std::u16string(u"..\0", 3),
                                      u"a\tb.msp",
                                      u"a\x1F",
                                      u"COM\u00B9.msp",
                                      u"lpt\u00B3",
                                      u"vendor\\Com\u00B2.x",
                                      u"LPT\u00B2 .log"};
    for (const std::u16string& name : refused) {
        EXPECT_FALSE(StaysInCurrentFolder(name)) << name.size();
    }
    for (const std::u16string& name :
         {std::u16string(u"COM\u00B90.msp"), std::u16string(u"COM\u00B4"),
          std::u16string(u"caf\u00E9 \u4E2D.msp")}) {
        EXPECT_TRUE(StaysInCurrentFolder(name));
    }
    // The log shows the name without its control characters.
    std::string detail;
    EXPECT_FALSE(ParseOne("1033", std::string("CON\0x", 5), &detail));
    EXPECT_EQ(detail, "line 2: the vendor file name CON?x leaves the current folder");
}

TEST(CatalogText, Utf8IsDecodedStrictly) {
    std::u16string out;
    EXPECT_TRUE(DecodeUtf8("a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80", &out));
    EXPECT_EQ(out, u"a\u00E9\u4E2D\U0001F600");
    for (const char* bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xC3",
                            "\xC3\x28", "\x80", "\xF8\x88\x80\x80\x80"}) {
        EXPECT_FALSE(DecodeUtf8(bad, &out)) << bad;
    }
    std::string detail;
    EXPECT_FALSE(ParseOne("1033", "\xC0\xAF.msp", &detail));
    EXPECT_THAT(detail, HasSubstr("no vendor file name"));
}

constexpr const char* kAbc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

TEST(CatalogText, APinningHeaderPutsADigestBeforeTheTitle) {
    CatalogTable lines;
    std::string detail;
    std::string upper = kAbc;
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    ASSERT_TRUE(ParseCatalogText("guid,language,vendor_file, SHA256 ,title\n" + std::string(kGuid) +
                                     ",1033,a.msp," + upper + ",Title, with a comma\n" + kGuid +
                                     ",1031,b.msp,,\n" + kGuid + ",1036,c.msp\n",
                                 &lines, &detail))
        << detail;
    ASSERT_EQ(lines.Patches().size(), 3u);
    ASSERT_TRUE(lines.Patches()[0].sha256.has_value());
    EXPECT_EQ(Sha256Text(*lines.Patches()[0].sha256), kAbc);
    EXPECT_EQ(lines.Patches()[0].title, "Title, with a comma");
    EXPECT_FALSE(lines.Patches()[1].sha256.has_value()) << "an empty field pins nothing";
    EXPECT_EQ(lines.Patches()[1].title, "");
    EXPECT_FALSE(lines.Patches()[2].sha256.has_value());

    // Without that header the same text is a title, as it always was.
    ASSERT_TRUE(ParseCatalogText("guid,language,vendor_file,title\n" + std::string(kGuid) +
                                     ",1033,a.msp," + kAbc + ",Title\n",
                                 &lines, &detail));
    EXPECT_FALSE(lines.Patches()[0].sha256.has_value());
    EXPECT_EQ(lines.Patches()[0].title, std::string(kAbc) + ",Title");
}

TEST(CatalogText, AMalformedDigestMakesTheCatalogCorruptAtItsLine) {
    const std::string header = "guid,language,vendor_file,sha256,title\n";
    const std::string good = std::string(kGuid) + ",1033,a.msp," + kAbc + ",t\n";
    const std::string abc = kAbc;
    for (const std::string& digest :
         {abc.substr(1), abc + "0", abc.substr(1) + "g", " " + abc, abc + " ", abc.substr(0, 32),
          "0x" + abc.substr(2), abc.substr(0, 31) + "-" + abc.substr(32)}) {
        CatalogTable lines;
        std::string detail;
        EXPECT_FALSE(ParseCatalogText(header + "\n" + good +
                                          std::string("A8D3E5F0-6C2B-4B19-8E77-5D1C9A0B3F22") +
                                          ",1033,b.msp," + digest + ",t\n",
                                      &lines, &detail))
            << digest;
        EXPECT_EQ(detail, "line 4: the sha256 field is neither empty nor 64 hexadecimal digits")
            << digest;
    }
}

TEST(CatalogText, OneVendorFileMayNotBePinnedToTwoDigests) {
    const std::string header = "guid,language,vendor_file,sha256,title\n";
    const std::string other = "0000000000000000000000000000000000000000000000000000000000000000";
    CatalogTable lines;
    std::string detail;
    // Two spellings of one file: one entry name, compared without letter case.
    EXPECT_FALSE(ParseCatalogText(header + kGuid + ",1033,vendor\\a.msp," + kAbc + ",\n" + kGuid +
                                      ",1031,x\\..\\VENDOR/./A.MSP,,\n" + kGuid +
                                      ",1036,Vendor\\a.msp," + other + ",\n",
                                  &lines, &detail));
    EXPECT_EQ(detail,
              "line 4: the vendor file Vendor/a.msp is pinned to another sha256 digest on line 2");
    // The same digest twice, in either case, or a pin beside an unpinned line, is one truth.
    std::string upper = kAbc;
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    EXPECT_TRUE(ParseCatalogText(header + kGuid + ",1033,vendor\\a.msp," + kAbc + ",\n" + kGuid +
                                     ",1031,vendor/A.msp," + upper + ",\n" + kGuid +
                                     ",1036,vendor\\a.msp,,\n",
                                 &lines, &detail))
        << detail;
    // The pin holds for the unpinned line too, and for any spelling that extracts to the file.
    ASSERT_TRUE(lines.PinOf("VENDOR/a.MSP").has_value());
    EXPECT_EQ(Sha256Text(*lines.PinOf("VENDOR/a.MSP")), kAbc);
    EXPECT_FALSE(lines.PinOf("vendor/b.msp").has_value());
}

TEST(CatalogText, ARefusedLineLeavesTheTableAsItWas) {
    CatalogTable table;
    std::string detail;
    CatalogPatch patch;
    ASSERT_TRUE(ParsePatchGuid(kGuid, &patch.key.id));
    patch.key.languageId = 1033;
    patch.entryName = "a.msp";
    patch.sha256 = Sha256Digest{};
    patch.line = 2;
    ASSERT_TRUE(table.Admit(patch, &detail)) << detail;
    CatalogPatch other = patch;
    other.key.languageId = 1031;
    other.sha256->back() = 1;  // another pin of a.msp
    other.line = 3;
    EXPECT_FALSE(table.Admit(other, &detail));
    EXPECT_EQ(table.Find(other.key), nullptr) << "a refused line is not listed";
    other.sha256.reset();
    ASSERT_TRUE(table.Admit(other, &detail)) << detail;
    ASSERT_NE(table.Find(other.key), nullptr);
    EXPECT_EQ(table.Find(other.key)->line, 3);
    EXPECT_EQ(table.Find(patch.key)->line, 2);
    EXPECT_EQ(table.Patches().size(), 2u);
}

TEST(CatalogText, EntryNamesAreRelativeWithForwardSlashes) {
    EXPECT_EQ(PackageEntryName("vendor\\en.msp"), "vendor/en.msp");
    EXPECT_EQ(PackageEntryName(".\\a\\\\b/../c.msp"), "a/c.msp");
    EXPECT_EQ(PackageEntryName("sub\\.."), "unnamed");
    EXPECT_EQ(FoldAsciiCase("AbC\xC3\x89"), "abc\xC3\x89");
}

}  // namespace
