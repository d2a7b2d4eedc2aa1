// A package that holds against whoever can write the current folder or the catalog's text:
// second spellings and links of one file, the manifest's own name, a link at the log's name,
// text that would end a manifest line early.
#include "PackageBuildTesting.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

}  // namespace

namespace {

// Lines split as the most willing reader splits them: at CR LF, CR or LF alike.
std::vector<std::string> AnyReaderLines(const std::string& text) {
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            i += text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n' ? 1 : 0;
            lines.emplace_back();
        } else {
            lines.back() += text[i];
        }
    }
    if (lines.back().empty()) {
        lines.pop_back();
    }
    return lines;
}

// English's file pinned on its first line and listed again under every other spelling that
// reaches it: a trailing dot, a trailing blank, other letter case, and a hard link.
std::string SpellingsCatalog() {
    return std::string("guid,language,vendor_file,sha256,title\r\n") + kEnglish +
           ",0x0409,vendor\\en.msp," + kEnglishSha + ",English\r\n" + kEnglish +
           ",0x0407,vendor\\en.msp.,,dot\r\n" + kEnglish + ",0x0809,vendor\\en.msp ,,blank\r\n" +
           kEnglish + ",0x0C09,VENDOR\\EN.MSP,,case\r\n" + kEnglish +
           ",0x1009,vendor\\hard.msp,,hard link\r\n";
}

TEST_F(PackageBuild, EverySpellingOfAPinnedFileIsThatFileAndItsPinHolds) {
    ASSERT_TRUE(CreateHardLinkW((dir / L"vendor\\hard.msp").c_str(),
                                (dir / L"vendor\\en.msp").c_str(), nullptr));
    const std::wstring package = dir / L"p.zip";
    Prepare(SpellingsCatalog(), nullptr);
    ASSERT_EQ(Create(package), 0);
    EXPECT_THAT(EntryNames(package), ElementsAre("vendor/en.msp", "manifest.txt"));
    const std::string verified =
        "size 300000 sha256 " + std::string(kEnglishSha) + " verified title ";
    std::string manifest = Manifest(package);
    for (const char* line : {"vendor-file vendor\\en.msp included ", "vendor\\en.msp. included ",
                             "vendor\\en.msp  included ", "VENDOR\\EN.MSP included "}) {
        EXPECT_THAT(manifest, HasSubstr(line + verified)) << line;
    }
    EXPECT_THAT(manifest, HasSubstr("vendor\\hard.msp included entry vendor/en.msp " + verified +
                                    "hard link\r\n"));

    // Tampered: no entry holds its bytes, whichever line names it, and a requested patch
    // whose line reaches it by another spelling fails as a mismatch.
    WriteTextFile(dir / L"vendor\\en.msp", std::string(300000, 'x'));
    ASSERT_EQ(Create(package), 0);
    EXPECT_THAT(EntryNames(package), ElementsAre("manifest.txt"));
    manifest = Manifest(package);
    for (const char* line : {"en.msp mismatch", "en.msp. mismatch", "en.msp  mismatch",
                             "EN.MSP mismatch", "hard.msp mismatch"}) {
        EXPECT_THAT(manifest, HasSubstr(line)) << line;
    }
    for (uint16_t language : {0x0407, 0x0809, 0x0C09, 0x1009}) {
        const PatchInfo requested = Patch(kEnglish, language);
        Prepare(SpellingsCatalog(), &requested);
        EXPECT_EQ(Create(package), KQ_E_REQUESTED_PATCH_MISMATCH) << language;
    }
}

TEST_F(PackageBuild, TwoLinesThatReachOneFileMayNotPinItToTwoDigests) {
    ASSERT_TRUE(CreateHardLinkW((dir / L"vendor\\hard.msp").c_str(),
                                (dir / L"vendor\\en.msp").c_str(), nullptr));
    const std::wstring log = dir / L"packager.log";
    Prepare(std::string("guid,language,vendor_file,sha256,title\r\n") + kEnglish +
                ",0x0409,vendor\\en.msp," + kEnglishSha + ",\r\n" + kEnglish +
                ",0x0407,vendor\\hard.msp," + kAbcSha + ",\r\n",
            nullptr, log);
    EXPECT_EQ(Create(dir / L"p.zip"), KQ_E_CATALOG_CORRUPT);
    EXPECT_THAT(ReadTextFile(log), HasSubstr("lines 2 and 3 reach one file"));
}

TEST(PackageTrust, NoVendorFileMayTakeTheManifestsNameInAnySpelling) {
    for (const char* name :
         {"manifest.txt", "MANIFEST.TXT", "Manifest.txt. .", ".\\manifest.TXT "}) {
        TempDir dir;
        std::string log;
        EXPECT_EQ(
            InitializeWith(dir,
                           std::string("guid,language,vendor_file,title\n") + kEnglish +
                               ",0x0409,vendor\\en.msp,\n" + kJapanese + ",0x0411," + name + ",\n",
                           &log),
            KQ_E_CATALOG_CORRUPT)
            << name;
        EXPECT_THAT(log, HasSubstr("line 3: the vendor file ")) << name;
    }
}

TEST_F(PackageBuild, ALinkAtTheLogsNameIsNotWrittenThrough) {
    TempDir elsewhere;
    const std::wstring target = elsewhere / L"target.txt";
    WriteTextFile(target, "keep");
    const std::wstring log = dir / L"PatchPackager.log";
    ASSERT_TRUE(CreateHardLinkW(log.c_str(), target.c_str(), nullptr));
    Prepare(kCatalog, nullptr, log);
    ASSERT_EQ(Create(dir / L"p.zip"), 0);
    EXPECT_EQ(ReadTextFile(target), "keep");
    EXPECT_THAT(Manifest(dir / L"p.zip"),
                HasSubstr("packager-log: " + ToUtf8(log) + " not written, error 681\r\n"));
    // Once the name is a file of its own, the next call writes it.
    ASSERT_TRUE(DeleteFileW(log.c_str()));
    ASSERT_EQ(Create(dir / L"p.zip"), 0);
    EXPECT_THAT(ReadTextFile(log), HasSubstr("package written"));
    EXPECT_EQ(ReadTextFile(target), "keep");
}

TEST_F(PackageBuild, NoTextEndsAManifestLineEarly) {
    // A title that would forge an item line, and every kind of line end and control character.
    const std::string forged = "x\ritem 9: " + std::string(kEnglish) + " 0x0409 index 9 verified";
    Prepare(std::string("guid,language,vendor_file,title\r\n") + kEnglish +
                ",0x0409,vendor\\en.msp," + forged + "\r\n" + kEnglish +
                ",0x0407,vendor\\de.msp,tab\there nel\xC2\x85 sep\xE2\x80\xA8 bell\x07 100%\r\n",
            nullptr);
    PackageRequest request{};
    request.source = L"local\r\nsource: forged";
    request.count = static_cast<uint32_t>(items.size());
    request.items = items.data();
    DeploymentOptions options{};
    options.deploymentLog = L"C:\\logs\\a\nb.log";
    options.eventsHandlerDll = L"C:\\out\\h\r.dll";
    options.flags = kRemoveTempFilesFlags;
    const std::wstring package = dir / L"p.zip";
    ASSERT_EQ(lib.packager->CreatePackage(&request, package.c_str(), &options), 0);
    const std::string manifest = Manifest(package);
    EXPECT_EQ(AnyReaderLines(manifest).size(), 7u + items.size()) << manifest;
    EXPECT_THAT(manifest, HasSubstr("source: local%0D%0Asource: forged\r\n"));
    EXPECT_THAT(manifest, HasSubstr("deployment-log: C:\\logs\\a%0Ab.log\r\n"));
    EXPECT_THAT(manifest, HasSubstr("events-handler: C:\\out\\h%0D.dll\r\n"));
    EXPECT_THAT(manifest, HasSubstr("title x%0Ditem 9: "));
    EXPECT_THAT(manifest, HasSubstr("title tab%09here nel%C2%85 sep%E2%80%A8 bell%07 100%25\r\n"));
}

}  // namespace
