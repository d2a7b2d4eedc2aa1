// Packages as the reference library writes them: the manifest, the vendor files, the
// temporary package, a busy target, pinned digests and the log.
#include "ReferencePackager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "PackageBuildTesting.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

TEST_F(PackageBuild, WritesTheManifestAndThePresentVendorFiles) {
    const std::wstring package = dir / L"deploy-package.zip";
    ASSERT_EQ(Create(package), 0);
    EXPECT_THAT(EntryNames(package), ElementsAre("vendor/en.msp", "manifest.txt"));
    ZipReader reader;
    ASSERT_EQ(reader.Open(package), ZipStatus::Ok);
    std::string vendor;
    ASSERT_EQ(reader.Extract("vendor/en.msp", 1 << 20, &vendor), ZipStatus::Ok);
    EXPECT_EQ(vendor, std::string(300000, 'e'));
    const std::string manifest = Manifest(package);
    EXPECT_THAT(manifest, HasSubstr("source: local\r\n"));
    EXPECT_THAT(manifest, HasSubstr("deployment-log: C:\\logs\\deploy.log\r\n"));
    EXPECT_THAT(manifest, HasSubstr("deployment-log-level: 4\r\n"));
    EXPECT_THAT(manifest, HasSubstr("events-handler: C:\\out\\handler.dll\r\n"));
    EXPECT_THAT(manifest, HasSubstr("flags: 0x0686\r\n"));
    EXPECT_THAT(manifest, HasSubstr("package-format: 2\r\n"));
    EXPECT_THAT(manifest, HasSubstr("item 0: 6F2C7A41-0B3E-4D5A-9C11-2E8B4F7D1A01 0x0409 index 0 "
                                    "vendor-file vendor\\en.msp included size 300000 title "
                                    "English, with a comma\r\n"));
    EXPECT_THAT(manifest, HasSubstr("item 1: 6F2C7A41-0B3E-4D5A-9C11-2E8B4F7D1A01 0x0407 index 1 "
                                    "vendor-file vendor\\de.msp missing"));
    EXPECT_THAT(manifest, HasSubstr("item 2: A8D3E5F0-6C2B-4B19-8E77-5D1C9A0B3F22 0x0411 index 2"));
}

TEST_F(PackageBuild, AFailureLeavesTheOlderPackageIntactAndNoTemporaryFile) {
    const std::wstring package = dir / L"deploy-package.zip";
    WriteTextFile(package, "older package");
    // A vendor file that cannot be read: a folder where the file should be.
    DeleteFileW((dir / L"vendor\\en.msp").c_str());
    CreateDirectoryW((dir / L"vendor\\en.msp").c_str(), nullptr);
    EXPECT_EQ(Create(package), KQ_E_VENDOR_FILE_UNREADABLE);
    EXPECT_EQ(ReadTextFile(package), "older package");
    WIN32_FIND_DATAW found;
    EXPECT_FALSE(UniqueFind(FindFirstFileW((dir / L"kqp*.tmp").c_str(), &found)))
        << "the partial package was removed";

    // Without the remove bit, the partial package stays for inspection.
    EXPECT_EQ(Create(package, kPreserveTempFilesFlags), KQ_E_VENDOR_FILE_UNREADABLE);
    EXPECT_TRUE(UniqueFind(FindFirstFileW((dir / L"kqp*.tmp").c_str(), &found)));
}

TEST_F(PackageBuild, AnUnwritableTargetIsReportedAndAnOlderPackageReplacedWhenWritable) {
    const std::wstring log = dir / L"packager.log";
    Prepare(kCatalog, nullptr, log);
    EXPECT_EQ(Create(dir / L"no-such-folder\\p.zip"), KQ_E_TARGET_UNWRITABLE);
    // The error of the failed creation itself, not of a search for a free name.
    EXPECT_THAT(ReadTextFile(log), HasSubstr("cannot create a temporary file in " +
                                             ToUtf8(dir / L"no-such-folder\\") + ", error 3"));
    const std::wstring package = dir / L"p.zip";
    WriteTextFile(package, "older");
    ASSERT_EQ(Create(package), 0);
    EXPECT_THAT(Manifest(package), HasSubstr("items: 3"));
}

TEST_F(PackageBuild, TheRequestedPatchMustBeInThePackage) {
    const std::wstring package = dir / L"deploy-package.zip";
    const std::wstring log = dir / L"packager.log";
    const PatchInfo english = Patch(kEnglish, 0x0409);
    Prepare(kCatalog, &english, log);
    ASSERT_EQ(Create(package), 0);
    WriteTextFile(package, "older package");
    const std::vector<std::wstring> before = Files();

    // German's vendor file is missing, then a folder; Japanese's is missing too; an unknown
    // patch is in no catalog.
    struct Case {
        PatchInfo requested;
        bool folderForGerman;
        const char* logged;
    };
    const Case cases[] = {
        {Patch(kEnglish, 0x0407), false,
         "the vendor file vendor\\de.msp of the requested patch 6F2C7A41-0B3E-4D5A-9C11-"
         "2E8B4F7D1A01 0x0407 is missing; no package written"},
        {Patch(kEnglish, 0x0407), true, "vendor\\de.msp of the requested patch"},
        {Patch(kJapanese, 0x0411), false, "missing.msp of the requested patch"},
    };
    for (const Case& c : cases) {
        if (c.folderForGerman) {
            CreateDirectoryW((dir / L"vendor\\de.msp").c_str(), nullptr);
        }
        Prepare(kCatalog, &c.requested, log);
        EXPECT_EQ(Create(package), KQ_E_REQUESTED_PATCH_MISSING) << c.logged;
        EXPECT_EQ(Create(package, kPreserveTempFilesFlags), KQ_E_REQUESTED_PATCH_MISSING);
        EXPECT_THAT(ReadTextFile(log), HasSubstr(c.logged));
        EXPECT_EQ(ReadTextFile(package), "older package");
        EXPECT_EQ(Files(), before) << c.logged << ": nothing else is written";
    }
    EXPECT_THAT(ReadTextFile(log), HasSubstr("cannot be read, error 5"));
}

TEST_F(PackageBuild, ARequestThatLeavesTheRequestedPatchOutIsRefused) {
    const std::wstring log = dir / L"packager.log";
    const PatchInfo english = Patch(kEnglish, 0x0409);
    Prepare(kCatalog, &english, log);
    items.erase(items.begin());
    EXPECT_EQ(Create(dir / L"deploy-package.zip"), KQ_E_REQUESTED_PATCH_MISSING);
    EXPECT_THAT(ReadTextFile(log), HasSubstr("the request does not include the requested patch"));
}

TEST_F(PackageBuild, PatchesSharingAVendorFileGetOneEntry) {
    Prepare(
        "guid,language,vendor_file,title\n"
        "6F2C7A41-0B3E-4D5A-9C11-2E8B4F7D1A01,0x0409,vendor\\en.msp,\n"
        "6F2C7A41-0B3E-4D5A-9C11-2E8B4F7D1A01,0x0809,VENDOR/EN.MSP,\n"
        "6F2C7A41-0B3E-4D5A-9C11-2E8B4F7D1A01,0x0C09,sub\\..\\.\\vendor\\en.msp,\n",
        nullptr);
    const std::wstring package = dir / L"p.zip";
    ASSERT_EQ(Create(package), 0);
    EXPECT_THAT(EntryNames(package), ElementsAre("vendor/en.msp", "manifest.txt"));
    EXPECT_THAT(Manifest(package), HasSubstr("0x0809 index 1 vendor-file VENDOR/EN.MSP included"));
    EXPECT_THAT(Manifest(package),
                HasSubstr("0x0C09 index 2 vendor-file sub\\..\\.\\vendor\\en.msp "
                          "included"));
}

TEST_F(PackageBuild, ALogThatCannotBeWrittenIsNamedInTheManifest) {
    const std::wstring package = dir / L"p.zip";
    struct Case {
        std::wstring log;
        const char* error;
    };
    // A folder stays busy through every retry; the others fail at once.
    const Case cases[] = {{dir.Path(), "error 5"},
                          {dir / L"no-such-folder\\packager.log", "error 3"},
                          {dir / L"bad<name>.log", "error 123"}};
    for (const Case& c : cases) {
        Prepare(kCatalog, nullptr, c.log);
        ASSERT_EQ(Create(package), 0) << c.error;
        EXPECT_THAT(Manifest(package), HasSubstr("packager-log: " + ToUtf8(c.log) +
                                                 " not written, " + c.error + "\r\nitems: 3"));
    }
    Prepare(kCatalog, nullptr, dir / L"packager.log");
    ASSERT_EQ(Create(package), 0);
    EXPECT_THAT(Manifest(package), Not(HasSubstr("packager-log:")));
}

TEST_F(PackageBuild, TemporaryPackagesOfEndedRunsAreSweptAndLiveOnesKept) {
    const std::wstring log = dir / L"packager.log";
    Prepare(kCatalog, nullptr, log);
    const std::wstring live = dir / L"kqpABCD.tmp";
    WriteTextFile(dir / L"kqp1.tmp", "killed run");
    WriteTextFile(dir / L"KQP00F0.TMP", "killed run");
    WriteTextFile(dir / L"kqp-notes.tmp", "not ours");
    const UniqueFile held(CreateFileW(live.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);

    // A run that keeps its temporary files sweeps nothing.
    ASSERT_EQ(Create(dir / L"p.zip", kPreserveTempFilesFlags), 0);
    EXPECT_EQ(ReadTextFile(dir / L"kqp1.tmp"), "killed run");

    ASSERT_EQ(Create(dir / L"p.zip"), 0);
    EXPECT_EQ(GetFileAttributesW((dir / L"kqp1.tmp").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW((dir / L"KQP00F0.TMP").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesW(live.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ReadTextFile(dir / L"kqp-notes.tmp"), "not ours");
    EXPECT_THAT(ReadTextFile(log),
                HasSubstr("removed 2 temporary packages of runs that ended early"));
}

TEST_F(PackageBuild, ATargetBusyForAMomentIsWaitedOut) {
    const std::wstring package = dir / L"p.zip";
    WriteTextFile(package, "older");
    // A scanner's open: no delete sharing, so the target cannot be replaced meanwhile.
    UniqueFile scanner(CreateFileW(package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(scanner);
    std::thread release([&] {
        Sleep(400);
        scanner.Reset();
    });
    const int32_t status = Create(package);
    release.join();
    EXPECT_EQ(status, 0);
    EXPECT_THAT(Manifest(package), HasSubstr("items: 3"));
}

TEST_F(PackageBuild, PinnedFilesAreVerifiedAndTamperedOnesLeftOut) {
    const std::wstring package = dir / L"p.zip";
    const std::wstring log = dir / L"packager.log";
    WriteTextFile(dir / L"vendor\\de.msp", "abc");
    Prepare(PinnedCatalog(), nullptr, log);
    ASSERT_EQ(Create(package), 0);
    EXPECT_THAT(EntryNames(package), ElementsAre("vendor/en.msp", "vendor/de.msp", "manifest.txt"));
    const std::string manifest = Manifest(package);
    EXPECT_THAT(manifest, HasSubstr("vendor-file vendor\\en.msp included size 300000 sha256 " +
                                    std::string(kEnglishSha) + " verified title English\r\n"));
    EXPECT_THAT(manifest, HasSubstr("vendor-file vendor\\de.msp included size 3 sha256 " +
                                    std::string(kAbcSha) + " verified\r\n"));
    EXPECT_THAT(manifest, HasSubstr("vendor-file missing.msp missing title Japanese"));
    // The log tells the administrator the same, file by file.
    const std::string written = ReadTextFile(log);
    EXPECT_THAT(written, HasSubstr("added vendor/en.msp"));
    EXPECT_THAT(written, HasSubstr("added vendor/de.msp"));
    EXPECT_THAT(written, HasSubstr("vendor file missing: missing.msp"));

    // German's file with one byte flipped, cut short, and replaced by another file: it is
    // left out, and the run succeeds as for a missing file.
    const std::pair<std::string, const char*> tampered[] = {
        {"abd", "a52d159f262b2c6ddb724a61840befc36eb30c88877a4030b65cbe86298449c9"},
        {"ab", "fb8e20fc2e4c3f248c60c39bd652f3c1347298bb977b8b4d5903b85055620603"},
        {std::string(300000, 'e'), kEnglishSha}};
    for (const auto& [bytes, found] : tampered) {
        WriteTextFile(dir / L"vendor\\de.msp", bytes);
        ASSERT_EQ(Create(package), 0) << found;
        EXPECT_THAT(EntryNames(package), ElementsAre("vendor/en.msp", "manifest.txt"));
        EXPECT_THAT(Manifest(package), HasSubstr("0x0407 index 1 vendor-file vendor\\de.msp "
                                                 "mismatch\r\n"));
        EXPECT_THAT(ReadTextFile(log), HasSubstr(MismatchLine("vendor\\de.msp", kAbcSha, found,
                                                              "left out of the package")));
    }
}

TEST_F(PackageBuild, ARequestedFileThatIsNotWhatTheCatalogPinsFailsAndWritesNothing) {
    const std::wstring package = dir / L"p.zip";
    const std::wstring log = dir / L"packager.log";
    WriteTextFile(dir / L"vendor\\de.msp", "abc");
    const PatchInfo english = Patch(kEnglish, 0x0409);
    WriteTextFile(package, "older package");
    const std::vector<std::wstring> before = Files();
    const std::pair<std::string, const char*> tampered[] = {
        {std::string(1000, 'e') + "f" + std::string(298999, 'e'),
         "98335e0b0eb16eb950f986355a5e9f06abbe81a495029741454e98bbcdb12af9"},
        {std::string(299999, 'e'),
         "7dc19517ec4ffc39fc6c1170dc524af79adedd611c7a6ca5c47d988ef19b82a5"}};
    for (const auto& [bytes, found] : tampered) {
        WriteTextFile(dir / L"vendor\\en.msp", bytes);
        for (uint32_t flags : {kRemoveTempFilesFlags, kPreserveTempFilesFlags}) {
            DeleteFileW(log.c_str());
            Prepare(PinnedCatalog(), &english, log);
            EXPECT_EQ(Create(package, flags), KQ_E_REQUESTED_PATCH_MISMATCH) << found;
            EXPECT_EQ(ReadTextFile(package), "older package");
            const bool kept =
                ReadTextFile(log).find("kept the partial package ") != std::string::npos;
            if (flags == kRemoveTempFilesFlags) {
                EXPECT_EQ(Files(), before) << "nothing else is left behind";
                EXPECT_FALSE(kept) << "nothing was kept";
            } else {
                EXPECT_TRUE(kept) << "the kept package is named";
            }
        }
        EXPECT_THAT(ReadTextFile(log),
                    HasSubstr("ERROR " + MismatchLine("vendor\\en.msp", kEnglishSha, found,
                                                      "no package written")));
    }
}

TEST_F(PackageBuild, ThePackageIsTheSameBytesWhateverTheTimeOfTheRun) {
    const std::wstring log = dir / L"packager.log";
    WriteTextFile(dir / L"vendor\\de.msp", "abc");
    // A file time of its own, and another for the catalog: entries carry these, not the clock.
    auto setTime = [](const std::wstring& path, uint64_t unixTime) {
        const UniqueFile file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
        const uint64_t ticks = unixTime * 10000000 + 116444736000000000;
        FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
        ASSERT_TRUE(SetFileTime(file.Get(), nullptr, nullptr, &time));
    };
    setTime(dir / L"vendor\\en.msp", 1700000001);  // 2023-11-14 22:13:21 UTC
    Prepare(PinnedCatalog(), nullptr, log);
    setTime(catalog, 1600000000);  // 2020-09-13 12:26:40 UTC
    Start(nullptr, log);
    ASSERT_EQ(Create(dir / L"first.zip"), 0);
    Sleep(2100);  // beyond the two seconds the DOS time fields count in
    ASSERT_EQ(Create(dir / L"second.zip"), 0);
    const std::string first = ReadTextFile(dir / L"first.zip");
    EXPECT_TRUE(first == ReadTextFile(dir / L"second.zip"));
    // The DOS fields in UTC: 22:13:20 on 2023-11-14, 12:26:40 on 2020-09-13.
    ZipReader reader;
    ASSERT_EQ(reader.Open(dir / L"first.zip"), ZipStatus::Ok);
    auto dosFields = [&](const ZipEntry& entry) {
        const size_t at = static_cast<size_t>(entry.localHeaderOffset) + 10;
        return std::string(first, at, 4);
    };
    EXPECT_EQ(dosFields(reader.Entries()[0]), std::string("\xAA\xB1\x6E\x57", 4));
    EXPECT_EQ(dosFields(reader.Entries()[2]), std::string("\x54\x63\x2D\x51", 4));
}

TEST_F(PackageBuild, AStuckRunHoldingTheLogsLockCostsOthersOnlyTheirLog) {
    const std::wstring log = dir / L"packager.log";
    WriteTextFile(log, "");
    // Another run that holds the turn and does not give it back.
    const UniqueFile other(CreateFileW(log.c_str(), FILE_APPEND_DATA | FILE_READ_DATA,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    OVERLAPPED turn{};
    turn.OffsetHigh = 0x40000000;
    ASSERT_TRUE(LockFileEx(other.Get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &turn));
    const ULONGLONG start = GetTickCount64();
    Prepare(kCatalog, nullptr, log);
    ASSERT_EQ(Create(dir / L"p.zip"), 0);
    const ULONGLONG took = GetTickCount64() - start;
    EXPECT_LT(took, 20000u) << "the lock is waited for a few seconds, not for ever";
    EXPECT_THAT(Manifest(dir / L"p.zip"),
                HasSubstr("packager-log: " + ToUtf8(log) + " not written, error 33\r\n"));
    // The lock given back, the next call of the same object writes its lines again.
    UnlockFileEx(other.Get(), 0, 1, 0, &turn);
    ASSERT_EQ(Create(dir / L"p.zip"), 0);
    EXPECT_THAT(Manifest(dir / L"p.zip"), Not(HasSubstr("packager-log:")));
    EXPECT_THAT(ReadTextFile(log), HasSubstr("package written"));
}

}  // namespace
