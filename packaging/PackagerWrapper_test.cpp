#include "PackagerWrapper.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "PackagingTesting.h"

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

TEST_F(Build, PathIsExtendedOnceAndNotAgain) {
    runtimeDir = dir / L"runtime";
    const std::wstring before = GetEnvVar(L"Path");
    EXPECT_EQ(Run(), 0);
    const std::wstring extended = runtimeDir + L";" + before;
    EXPECT_THAT(Lines(), Contains(L"4 PATH: " + extended));
    EXPECT_THAT(platform.record, Contains("Initialize Path=" + ToUtf8(extended)));
    EXPECT_EQ(Run(), 0);
    EXPECT_THAT(Lines(), Not(Contains(HasSubstr(L"PATH: "))));
    EXPECT_EQ(GetEnvVar(L"Path"), extended);
    SetEnvVar(L"Path", before.c_str());
}

TEST_F(Build, PathHoldingTheFolderOnlyAsItsLastEntryIsExtendedAgain) {
    runtimeDir = dir / L"runtime";
    const std::wstring before = GetEnvVar(L"Path");
    const std::wstring withLast = before + L";" + runtimeDir;
    SetEnvVar(L"Path", withLast.c_str());
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(GetEnvVar(L"Path"), runtimeDir + L";" + withLast);
    SetEnvVar(L"Path", before.c_str());
}

TEST_F(Build, ThePackagerLibraryIsCopiedFromItsFolder) {
    packagerDir = dir / L"vendor";
    CreateDirectoryW(packagerDir.c_str(), nullptr);
    WriteTextFile(packagerDir + L"\\KQPackager.dll", "library");
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(Lines()[1], L"4 copy: " + packagerDir + L"\\KQPackager.dll " + platform.exeDir +
                              L"\\KQPackager.dll");
    EXPECT_EQ(ReadTextFile(platform.exeDir + L"\\KQPackager.dll"), "library");

    DeleteFileW((packagerDir + L"\\KQPackager.dll").c_str());
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(Lines()[2], L"1 PackagerWrapper: cannot copy KQPackager.dll. Err = 2");
    EXPECT_TRUE(
        platform.record.empty());  // the library is never touched after a failed preparation
}

TEST_F(Build, OldLogsAreDeletedOnlyWhenAsked) {
    const std::wstring pLog = output + L"\\PatchPackager.log";
    const std::wstring dLog = output + L"\\PatchDeployment.log";
    platform.script.watchedFiles = {pLog, dLog};
    WriteTextFile(pLog, "old");
    WriteTextFile(dLog, "old");
    EXPECT_EQ(Run(), 0);
    EXPECT_THAT(platform.record, Contains("Initialize exists " + ToUtf8(pLog) + "=1"));
    EXPECT_THAT(platform.record, Contains("Initialize exists " + ToUtf8(dLog) + "=1"));

    overwritePackagerLog = true;
    EXPECT_EQ(Run(), 0);
    EXPECT_THAT(platform.record, Contains("Initialize exists " + ToUtf8(pLog) + "=0"));
    EXPECT_THAT(platform.record, Contains("Initialize exists " + ToUtf8(dLog) + "=1"));

    overwriteDeploymentLog = true;
    EXPECT_EQ(Run(), 0);  // nothing left to delete: no message
    EXPECT_THAT(platform.record, Contains("Initialize exists " + ToUtf8(dLog) + "=0"));
    EXPECT_THAT(Lines(), Not(Contains(HasSubstr(L"DeleteFile"))));
}

TEST_F(Build, AnOldLogThatCannotBeDeletedIsReportedAndTheRunGoesOn) {
    const std::wstring pLog = output + L"\\PatchPackager.log";
    WriteTextFile(pLog, "old");
    SetFileAttributesW(pLog.c_str(), FILE_ATTRIBUTE_READONLY);
    overwritePackagerLog = true;
    EXPECT_EQ(Run(), 0);
    EXPECT_THAT(Lines(), Contains(L"1 DeleteFile failed. File = " + pLog + L", Err = 5"));
    SetFileAttributesW(pLog.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(Build, RelativeNamesArePlacedUnderTheOutputFolder) {
    eventsHandler = L"handlers\\h.dll";  // its folder is never tested
    packageFile = L"pkg\\..\\named.zip";
    EXPECT_EQ(Run(), 0);
    EXPECT_THAT(platform.record,
                Contains("CreatePackage packageFile=" + ToUtf8(output) + "\\named.zip"));
    EXPECT_THAT(platform.record,
                Contains(HasSubstr("eventsHandlerDll=" + ToUtf8(output) + "\\handlers\\h.dll ")));

    packagerLog = L"logs\\p.log";
    EXPECT_EQ(Run(), 1);
    EXPECT_THAT(Lines(),
                Contains(L"1 Folder for file does not exist. File = " + output + L"\\logs\\p.log"));
}

TEST_F(Build, MissingCatalogOrOutputFolderStopsBeforeTheLibrary) {
    DeleteFileW((catalog + L"\\windowspatchdata.zip").c_str());
    EXPECT_EQ(Run(), 1);
    EXPECT_THAT(Lines(), Contains(L"1 Patch catalog file does not exist: " + catalog +
                                  L"\\windowspatchdata.zip"));
    WriteTextFile(catalog + L"\\windowspatchdata.zip", "catalog");

    output = dir / L"missing";
    EXPECT_EQ(Run(), 1);
    EXPECT_THAT(Lines(), Contains(L"1 Output directory does not exist: " + output));
    EXPECT_TRUE(platform.record.empty());
}

TEST_F(Build, AnEmptyOutputFolderBecomesTheCurrentDirectory) {
    output = L"";
    EXPECT_EQ(Run(), 0);
    EXPECT_THAT(Lines(), Contains(L"4 Package output directory: " + work));
    EXPECT_TRUE(PathExists((work + L"\\deploy-package.zip").c_str()));
}

TEST_F(Build, AnEmptyCatalogFolderGivesARootedCatalogPath) {
    catalog = L"";
    EXPECT_EQ(Run(), 1);
    EXPECT_THAT(Lines(), Contains(L"4 Patch catalog input: \\windowspatchdata.zip"));
}

TEST(PackagerWrapper, TwoWrappersOnTwoPlatformsKeepApart) {
    LogCapture capture;
    TempDir dir;
    CreateDirectoryW((dir / L"out").c_str(), nullptr);
    WriteTextFile(dir / L"windowspatchdata.zip", "catalog");
    const PackagerParams params(kPatch, 0, dir.Path(), dir / L"out", L"h.dll", L"p.log", 1, false,
                                L"d.log", 1, false, L"", L"", L"package.zip", false);
    ScriptedPlatform bound, unbound;
    bound.script.patches = {{kPatch, 0x409, L"patch.msp"}};
    unbound.notBound = true;
    unbound.notBoundCode = 0xC06D007E;
    PackagerWrapper first(params, bound);
    PackagerWrapper second(params, unbound);
    EXPECT_EQ(second.InitPackager(), 1);
    EXPECT_EQ(first.InitPackager(), 0);
    ASSERT_FALSE(bound.record.empty()) << "the first platform's packager was created";
    EXPECT_EQ(bound.record.front().rfind("CreatePackager", 0), 0u);
    EXPECT_THAT(bound.record, Contains(HasSubstr("Initialize")));
    EXPECT_TRUE(unbound.record.empty()) << "nothing reached the second platform's script";
    EXPECT_THAT(capture.Messages(),
                Contains(L"InitPackager: cannot load KQPackager.dll; Err = -1066598274"));
}

}  // namespace
