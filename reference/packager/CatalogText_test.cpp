#include "CatalogText.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::HasSubstr;

constexpr const char* kGuid = "6F2C7A41-0B3E-4D5A-9C11-2E8B4F7D1A01";

// A catalog of one line after the header, with `language` and `vendor`.
bool ParseOne(const std::string& language, const std::string& vendor, std::string* detail,
              CatalogLine* parsed = nullptr) {
    std::vector<CatalogLine> lines;
    const bool ok = ParseCatalogText("guid,language,vendor_file,title\n" + std::string(kGuid) +
                                         "," + language + "," + vendor + ",title\n",
                                     &lines, detail);
    if (ok && parsed != nullptr) {
        *parsed = lines.at(0);
    }
    return ok;
}

TEST(CatalogText, LanguagesAreDecimalWithoutALeadingZeroOrHex) {
    const std::pair<const char*, uint16_t> accepted[] = {{"1033", 1033},     {"0x0409", 0x409},
                                                         {"0X40c", 0x40C},   {"65535", 0xFFFF},
                                                         {"0xFFFF", 0xFFFF}, {"7", 7}};
    for (const auto& [text, value] : accepted) {
        std::string detail;
        CatalogLine line;
        ASSERT_TRUE(ParseOne(text, "a.msp", &detail, &line)) << text << ": " << detail;
        EXPECT_EQ(line.languageId, value) << text;
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
    std::vector<CatalogLine> lines;
    std::string detail;
    const std::string patch = std::string(kGuid) + ",0x0409,a.msp,\n";
    EXPECT_TRUE(ParseCatalogText("\xEF\xBB\xBFguid,language\r\n\r\n" + patch, &lines, &detail));
    EXPECT_EQ(lines.at(0).line, 3);
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

}  // namespace
