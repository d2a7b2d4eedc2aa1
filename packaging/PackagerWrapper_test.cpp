#include "PackagerWrapper.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "ScriptedPackager.h"
#include "TestEnv.h"
#include "Util.h"

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

const GUID kPatch = {0xCA25DBE4, 0x81D5, 0x4467, {0x8D, 0x0B, 0xD4, 0xF0, 0x5B, 0x31, 0xA9, 0x42}};
const GUID kOther = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
const char* kPatchText = "CA25DBE4-81D5-4467-8D0B-D4F05B31A942";
const char* kOtherText = "11111111-2222-3333-4444-555555555555";

// A packaging platform of the test's own: a scripted packager (or none that binds), the calls
// it receives recorded, and an executable folder of the test's choosing.
class ScriptedPlatform : public PackagingPlatform {
  public:
    CreateOutcome CreatePackager(IPackager** packager) override {
        CreateOutcome outcome;
        if (notBound) {
            outcome.faultCode = notBoundCode;
            return outcome;
        }
        outcome.returned = true;
        outcome.status = ScriptedPackager::Create(
            script, [this](const std::string& line) { record.push_back(line); }, &IID_IPackager,
            packager);
        return outcome;
    }
    std::wstring ExeDir() override { return exeDir; }

    PackagerScript script;
    std::vector<std::string> record;
    std::wstring exeDir;
    bool notBound = false;
    uint32_t notBoundCode = 0;
};

// One build against a scripted packager, in a fresh folder with a catalog and an output
// folder, and the current directory set to a folder of its own.
class Build : public ::testing::Test {
  public:
    void SetUp() override {
        catalog = dir / L"catalog";
        output = dir / L"out";
        work = dir / L"work";
        platform.exeDir = dir / L"bin";
        for (const std::wstring& folder : {catalog, output, work, platform.exeDir}) {
            CreateDirectoryW(folder.c_str(), nullptr);
        }
        WriteTextFile(catalog + L"\\windowspatchdata.zip", "catalog");
        previousDirectory = GetCurrentDirectoryPath();
        SetCurrentDirectoryW(work.c_str());
        platform.script.patches = {{kOther, 0x409, L"other.msp"}, {kPatch, 0x409, L"patch.msp"}};
        GetExeDir();  // the Util instance's first report is not part of any build's messages
    }

    void TearDown() override { SetCurrentDirectoryW(previousDirectory.c_str()); }

    std::unique_ptr<PackagerParams> Params() {
        return std::make_unique<PackagerParams>(kPatch, 0, catalog, output, eventsHandler,
                                                packagerLog, 5, overwritePackagerLog, deploymentLog,
                                                6, overwriteDeploymentLog, runtimeDir, packagerDir,
                                                packageFile, preserve);
    }

    int32_t Run() {
        capture.Clear();
        platform.record.clear();
        return RunPackager(*Params(), platform);
    }

    // "<level> <message>" of the wrapper's reports.
    std::vector<std::wstring> Lines() const {
        std::vector<std::wstring> lines;
        for (const auto& e : capture.Events()) {
            if (e.component == L"Deployment Packager Wrapper") {
                lines.push_back(std::to_wstring(e.level) + L" " + e.message);
            }
        }
        return lines;
    }

    std::vector<std::string> Calls() const {
        std::vector<std::string> calls;
        for (const std::string& line : platform.record) {
            calls.push_back(line.substr(0, line.find(' ')));
        }
        return calls;
    }

    LogCapture capture;
    TempDir dir;
    std::wstring catalog, output, work, previousDirectory;
    std::wstring eventsHandler = L"ZelDeploymentEventsHandler.dll";
    std::wstring packagerLog = L"PatchPackager.log";
    std::wstring deploymentLog = L"PatchDeployment.log";
    std::wstring packageFile = L"deploy-package.zip";
    std::wstring runtimeDir, packagerDir;
    bool overwritePackagerLog = false, overwriteDeploymentLog = false, preserve = false;
    ScriptedPlatform platform;
};

TEST_F(Build, ASuccessfulRunReportsEveryStepAndHandsTheLibraryEveryField) {
    WriteTextFile(work + L"\\patch.msp", "vendor");
    EXPECT_EQ(Run(), 0);
    const std::wstring out = output;
    EXPECT_THAT(Lines(),
                ElementsAre(L"4 BuildPackage started.",
                            L"4 Patch catalog input: " + catalog + L"\\windowspatchdata.zip",
                            L"4 Package output directory: " + out,
                            L"2 The vendor patch file '" + work + L"\\other.msp' does not exist.",
                            L"4 Vendor patch file: " + work + L"\\patch.msp",
                            L"8 Option to remove temp files will be used for current deployment "
                            L"package.",
                            L"4 BuildPackage finished. Result code = 0 "));
    EXPECT_THAT(Calls(), ElementsAre("CreatePackager", "Initialize", "Initialize",
                                     "GetAvailablePatches", "GetVendorPatchFile",
                                     "GetVendorPatchFile", "CreatePackage", "CreatePackage",
                                     "CreatePackage", "CreatePackage", "CreatePackage", "Release"));
    const std::string outUtf8 = ToUtf8(out);
    EXPECT_EQ(platform.record[1], "Initialize packagerLogLevel=5 packagerLog=" + outUtf8 +
                                      "\\PatchPackager.log catalogFile=" + ToUtf8(catalog) +
                                      "\\windowspatchdata.zip reserved1=0,0 patchId=" + kPatchText +
                                      " patchCount=1 patch=" + kPatchText +
                                      "/1033 reserved2=0,0,0");
    EXPECT_EQ(platform.record[3], "GetAvailablePatches count=0 patches=null");
    EXPECT_EQ(platform.record[6], "CreatePackage source=local reserved1=0 count=2 reserved2=0,0");
    EXPECT_EQ(platform.record[7],
              std::string("CreatePackage item ") + kOtherText + "/1033 index=0 reserved=0,0");
    EXPECT_EQ(platform.record[8],
              std::string("CreatePackage item ") + kPatchText + "/1033 index=1 reserved=0,0");
    EXPECT_EQ(platform.record[9], "CreatePackage packageFile=" + outUtf8 + "\\deploy-package.zip");
    EXPECT_EQ(platform.record[10], "CreatePackage deploymentLogLevel=6 deploymentLog=" + outUtf8 +
                                       "\\PatchDeployment.log eventsHandlerDll=" + outUtf8 +
                                       "\\ZelDeploymentEventsHandler.dll flags=1670 "
                                       "reserved1=0,0,0,0,0,0 reserved2=0,0,0,0,0,0");
}

TEST_F(Build, EachFailingCallBecomesTheResult) {
    struct Case {
        const char* name;
        void (*arrange)(Build&);
        int32_t result;
        const wchar_t* line;  // "{package}" stands for the package path
    };
    const Case cases[] = {
        {"not bound",
         [](Build& b) { b.platform.notBound = true, b.platform.notBoundCode = 0xC06D007E; }, 1,
         L"1 InitPackager: cannot load KQPackager.dll; Err = -1066598274"},
        {"missing export",
         [](Build& b) { b.platform.notBound = true, b.platform.notBoundCode = 0xC06D007F; }, 1,
         L"1 InitPackager: cannot load KQPackager.dll; Err = -1066598273"},
        {"fault",
         [](Build& b) { b.platform.notBound = true, b.platform.notBoundCode = 0xC0000005; }, 1,
         L"1 InitPackager: cannot load KQPackager.dll; Err = -1073741819"},
        {"create", [](Build& b) { b.platform.script.createStatus = -5; }, -5,
         L"1 Unable to load/construct packager due to error -5"},
        {"no object", [](Build& b) { b.platform.script.createReturnsNull = true; }, 1,
         L"1 InitPackager: CreatePackager succeeded without a packager"},
        {"initialize", [](Build& b) { b.platform.script.initializeStatus = 3; }, 3,
         L"1 Unable to initialize packager due to error 3"},
        {"patches", [](Build& b) { b.platform.script.patchesStatus = 7; }, 7,
         L"1 Unable to get GetAvailablePatches due to error 7"},
        {"empty list", [](Build& b) { b.platform.script.patches.clear(); }, 1,
         L"1 Number of Available Patches is 0"},
        {"null array", [](Build& b) { b.platform.script.nullPatchArray = true; }, 1,
         L"1 GetAvailablePatches listed 2 patches without an array"},
        {"other language only", [](Build& b) { b.platform.script.patches[1].languageId = 0x407; },
         1, L"1 List of Available Patches does not contain given patch"},
        {"create package", [](Build& b) { b.platform.script.createPackageStatus = -9; }, -9,
         L"1 Unable to create package due to error -9"},
        {"positive create package", [](Build& b) { b.platform.script.createPackageStatus = 2; }, 2,
         L"1 Unable to create package due to error 2"},
        {"package missing", [](Build& b) { b.platform.script.writePackage = false; }, 1,
         L"1 Package must be created but not found by path '{package}'"},
    };
    const PackagerScript original = platform.script;
    for (const Case& c : cases) {
        platform.script = original;
        platform.notBound = false;
        DeleteFileW((output + L"\\deploy-package.zip").c_str());
        c.arrange(*this);
        EXPECT_EQ(Run(), c.result) << c.name;
        std::wstring line = c.line;
        if (const size_t at = line.find(L"{package}"); at != std::wstring::npos) {
            line.replace(at, 9, output + L"\\deploy-package.zip");
        }
        const auto lines = Lines();
        ASSERT_GE(lines.size(), 2u) << c.name;
        EXPECT_EQ(lines[lines.size() - 2], line) << c.name;
        EXPECT_EQ(lines.back(),
                  L"4 BuildPackage finished. Result code = " + std::to_wstring(c.result) + L" ")
            << c.name;
        // Exactly one error line per failed run.
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [](const std::wstring& l) { return l[0] == L'1'; }),
                  1)
            << c.name;
        // The object, when one was made, is released exactly once.
        const bool made = !platform.notBound && platform.script.createStatus >= 0 &&
                          !platform.script.createReturnsNull;
        EXPECT_EQ(std::count(platform.record.begin(), platform.record.end(), "Release"),
                  made ? 1 : 0)
            << c.name;
    }
}

TEST_F(Build, AFaultInsideALaterLibraryCallEndsTheBuildNotTheProcess) {
    for (const char* method :
         {"Initialize", "GetAvailablePatches", "GetVendorPatchFile", "CreatePackage", "Release"}) {
        platform.script.faultIn = method;
        const int32_t result = Run();
        const auto lines = Lines();
        const std::wstring fault =
            FromUtf8(method) + L": the packager library faulted. Err = -1073741819";
        if (std::string(method) == "Release") {
            // The build itself succeeded; the fault on release is reported after it.
            EXPECT_EQ(result, 0);
            EXPECT_EQ(lines.back(), L"1 " + fault);
        } else {
            EXPECT_EQ(result, 1) << method;
            EXPECT_THAT(lines, Contains(L"1 " + fault)) << method;
            EXPECT_EQ(lines.back(), L"4 BuildPackage finished. Result code = 1 ") << method;
        }
    }
}

TEST_F(Build, AFaultingPatchListCountEndsTheBuildNotTheProcess) {
    platform.script.countOverride = 0x40000000;  // far beyond the two entries the library holds
    EXPECT_EQ(Run(), 1);
    EXPECT_THAT(Lines(), Contains(HasSubstr(L"1 GetAvailablePatches listed 1073741824 patches "
                                            L"that cannot be read. Err = ")));
}

TEST_F(Build, VendorFilesAreLookedUpInTheCurrentDirectory) {
    platform.script.patches.push_back({kOther, 0x40C, L"", true});  // a library that names no file
    platform.script.vendorStatus = {{0, -3}, {1, 4}};  // a positive status is no failure
    WriteTextFile(work + L"\\patch.msp", "vendor");
    WriteTextFile(catalog + L"\\other.msp", "not here: the catalog folder is not looked in");
    EXPECT_EQ(Run(), 0);
    const auto lines = Lines();
    EXPECT_THAT(lines, Contains(L"1 FAIL... -3"));
    EXPECT_THAT(lines, Contains(L"4 Vendor patch file: " + work + L"\\patch.msp"));
    // The folder itself never passes for a file the library did not name.
    EXPECT_THAT(lines, Contains(L"2 The vendor patch file '" + work + L"\\' does not exist."));
    // The entry whose lookup failed is still part of the request.
    EXPECT_THAT(platform.record, Contains(std::string("CreatePackage item ") + kOtherText +
                                          "/1033 index=0 reserved=0,0"));
    EXPECT_THAT(platform.record, Contains(std::string("CreatePackage item ") + kOtherText +
                                          "/1036 index=2 reserved=0,0"));
}

TEST_F(Build, TheCurrentFolderIsReadForEachVendorFile) {
    // The library moves the process elsewhere in its second lookup: the second file is
    // looked for there, not where the process was before.
    WriteTextFile(work + L"\\patch.msp", "vendor");
    platform.script.folderAtSecondLookup = L"C:\\";
    EXPECT_EQ(Run(), 0);
    const auto lines = Lines();
    EXPECT_THAT(lines,
                Contains(L"2 The vendor patch file '" + work + L"\\other.msp' does not exist."));
    EXPECT_THAT(lines, Contains(L"2 The vendor patch file 'C:\\patch.msp' does not exist."));
}

TEST_F(Build, ADriveRootGetsNoSecondSeparator) {
    SetCurrentDirectoryW(L"C:\\");
    EXPECT_EQ(Run(), 0);
    EXPECT_THAT(Lines(), Contains(L"2 The vendor patch file 'C:\\patch.msp' does not exist."));
}

TEST_F(Build, PreservingTempFilesChangesTheFlagsAndTheTraceLine) {
    preserve = true;
    EXPECT_EQ(Run(), 0);
    EXPECT_THAT(Lines(), Contains(L"8 Option to preserve temp files will be used for current "
                                  L"deployment package."));
    EXPECT_THAT(platform.record.back(), "Release");
    EXPECT_THAT(platform.record[platform.record.size() - 2], HasSubstr(" flags=1668 "));
}

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
