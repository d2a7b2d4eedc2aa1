// The build sequence: the patch list, the requested patch, the vendor files and the package,
// through a scripted packager.
#include "PackagerWrapper.h"

#include "PackagingTesting.h"

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

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

// A failing call of each kind: how to arrange it, the result, and the run's one error line.
struct FailingCall {
    const char* name;
    void (*arrange)(Build&);
    int32_t result;
    const wchar_t* line;  // "{package}" stands for the package path
};

const FailingCall kFailingCalls[] = {
    {"not bound",
     [](Build& b) { b.platform.notBound = true, b.platform.notBoundCode = 0xC06D007E; }, 1,
     L"1 InitPackager: cannot load KQPackager.dll; Err = -1066598274"},
    {"missing export",
     [](Build& b) { b.platform.notBound = true, b.platform.notBoundCode = 0xC06D007F; }, 1,
     L"1 InitPackager: cannot load KQPackager.dll; Err = -1066598273"},
    {"fault", [](Build& b) { b.platform.notBound = true, b.platform.notBoundCode = 0xC0000005; }, 1,
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
    {"other language only", [](Build& b) { b.platform.script.patches[1].languageId = 0x407; }, 1,
     L"1 List of Available Patches does not contain given patch"},
    {"create package", [](Build& b) { b.platform.script.createPackageStatus = -9; }, -9,
     L"1 Unable to create package due to error -9"},
    {"positive create package", [](Build& b) { b.platform.script.createPackageStatus = 2; }, 2,
     L"1 Unable to create package due to error 2"},
    {"package missing", [](Build& b) { b.platform.script.writePackage = false; }, 1,
     L"1 Package must be created but not found by path '{package}'"},
};

TEST_F(Build, EachFailingCallBecomesTheResult) {
    const PackagerScript original = platform.script;
    for (const FailingCall& c : kFailingCalls) {
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

}  // namespace
