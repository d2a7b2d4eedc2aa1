// DeploymentPackager.exe as a management agent runs it: a separate process in a folder of
// its own, standard output redirected, debugger output captured, with the recording packager
// library next to it and, in some cases, the recording event library installed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "ProgramSandbox.h"

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

const std::wstring kGuid = ProgramSandbox::kGuid;
const std::string kCannotLoadEvents =
    "LoggerHelper: LoggerHelper::Init cannot load ZelNSEvent.dll, error = 126. ";

// A run that ends at binding the library: exit code 1 and the binding line with `code`.
void ExpectCannotBind(const RunResult& run, const std::string& code) {
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_THAT(run.outputLines,
                Contains("DeploymentPackager.exe:Deployment Packager Wrapper:InitPackager: cannot "
                         "load KQPackager.dll; Err = " +
                         code));
}

class Program : public ::testing::Test, protected ProgramSandbox {
  protected:
    void SetUp() override { ASSERT_TRUE(noEventLibrary); }
    void InstallPackager(const wchar_t* variant, const std::wstring& folder) {
        ASSERT_TRUE(ProgramSandbox::InstallPackager(std::wstring(L"doubles\\") + variant, folder));
    }
    RunResult Run(const std::vector<std::wstring>& args,
                  std::vector<std::wstring> environment = {}) override {
        RunResult result = ProgramSandbox::Run(args, std::move(environment));
        EXPECT_TRUE(result.started);
        EXPECT_FALSE(result.timedOut);
        return result;
    }
};

TEST_F(Program, NoArgumentsIsRefusedWithOneLine) {
    RunResult run = Run({});
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_THAT(run.outputLines, ElementsAre(kCannotLoadEvents,
                                             "DeploymentPackager.exe:Deployment Packager CmdLine "
                                             "Checker:Packager: invalid command line"));
    // The refusal comes before the library is bound: the double never saw a call.
    EXPECT_TRUE(Record().empty());
}

TEST_F(Program, EveryRefusalEndsWithExitCode1) {
    const std::vector<std::pair<std::vector<std::wstring>, std::string>> refusals = {
        {{L"-p", kGuid, L"-r", L"0", L"-c", catalog}, "Packager: invalid command line"},
        {{L"-p", L"nope", L"-r", L"0", L"-c", catalog, L"-o", output},
         "Unable to parse UUID string. Err = 1705."},
        {{L"-p", L"{00000000-0000-0000-0000-000000000000}", L"-r", L"0", L"-c", catalog, L"-o",
          output},
         "Packager: patch id is empty."},
        {{L"-p", kGuid, L"-r", L"0x1A", L"-c", catalog, L"-o", output},
         "Packager: invalid region: 0x1A"},
    };
    for (const auto& [args, message] : refusals) {
        RunResult run = Run(args);
        EXPECT_EQ(run.exitCode, 1u) << message;
        EXPECT_EQ(run.outputLines.back(),
                  "DeploymentPackager.exe:Deployment Packager CmdLine Checker:" + message);
        EXPECT_TRUE(Record().empty()) << message;
    }
}

// The run sets the C library's locale to the user's default first: a character of the user's
// code page beyond ASCII comes out as itself (é, and € and š, which code page 1252 holds at
// 0x80 and 0x9A where the C library's own "C" locale has none), one outside it as "?".
TEST_F(Program, ReportsAreWrittenInTheUsersCodePage) {
    RunResult run =
        Run({L"-p", kGuid, L"-r", L"caf\u00e9 \u20ac\u0161\u4e2d", L"-c", catalog, L"-o", output});
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(run.outputLines.back(),
              "DeploymentPackager.exe:Deployment Packager CmdLine Checker:Packager: invalid "
              "region: caf\xe9 \x80\x9a?");
}

TEST_F(Program, ASuccessfulRunWritesTheFullLineSequence) {
    WriteTextFile(work + L"\\patch.msp", "vendor");
    InstalledEventLibrary events(BinPath(L"doubles\\events-recording\\ZelNSEvent.dll"));
    ASSERT_TRUE(events.Installed());
    RunResult run = RunWith({});
    EXPECT_EQ(run.exitCode, 0u);
    const std::string w = "DeploymentPackager.exe:Deployment Packager Wrapper:";
    const std::string u = "DeploymentPackager.exe:Util class:";
    EXPECT_THAT(
        run.outputLines,
        ElementsAre(u + "Init Util library", w + "BuildPackage started.",
                    w + "Patch catalog input: " + ToUtf8(catalog) + "\\windowspatchdata.zip",
                    w + "Package output directory: " + ToUtf8(output),
                    w + "Vendor patch file: " + ToUtf8(work) + "\\patch.msp",
                    w + "Option to remove temp files will be used for current deployment "
                        "package.",
                    w + "BuildPackage finished. Result code = 0 "));
    // With the event library bound, nothing goes to the debugger output.
    EXPECT_TRUE(run.debugStrings.empty());
    const std::string recorded = ReadTextFile(dir / L"events.txt");
    EXPECT_THAT(recorded, HasSubstr("4\tDeploymentPackager.exe\tDeployment Packager Wrapper\t"
                                    "BuildPackage finished. Result code = 0 \n"));
    EXPECT_THAT(Record(), ElementsAre(HasSubstr("CreatePackager"), HasSubstr("Initialize "),
                                      HasSubstr("Initialize Path="), HasSubstr("GetAvailable"),
                                      HasSubstr("GetVendorPatchFile"), HasSubstr("CreatePackage "),
                                      HasSubstr("CreatePackage item"),
                                      HasSubstr("CreatePackage packageFile="),
                                      HasSubstr("CreatePackage deploymentLogLevel"), "Release"));
}

TEST_F(Program, WithoutTheEventLibraryEveryLineAlsoReachesTheDebuggerOutput) {
    RunResult run = RunWith({});
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.debugStrings.size(), run.outputLines.size());
    for (size_t i = 0; i < run.outputLines.size(); ++i) {
        EXPECT_EQ(run.debugStrings[i], run.outputLines[i] + "\n");
    }
}

TEST_F(Program, TheExecutablesNameIsTheFirstFieldOfEveryLine) {
    const std::wstring renamed = bin + L"\\Renamed Tool.exe";
    ASSERT_TRUE(CopyFileW(exe.c_str(), renamed.c_str(), FALSE));
    exe = renamed;
    RunResult run = RunWith({});
    EXPECT_EQ(run.exitCode, 0u);
    for (size_t i = 1; i < run.outputLines.size(); ++i) {
        EXPECT_EQ(run.outputLines[i].rfind("Renamed Tool.exe:", 0), 0u) << run.outputLines[i];
    }
}

TEST_F(Program, IntegerOptionsArriveNarrowedTo32Bits) {
    const std::vector<std::pair<std::wstring, std::string>> levels = {
        {L"0x10", "16"}, {L"010", "8"}, {L"abc", "-1"}, {L"4294967297", "1"}, {L"-7", "-7"}};
    for (const auto& [text, level] : levels) {
        RunResult run = RunWith({L"-pt", text, L"-dt", text});
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_THAT(RecordLine("Initialize packagerLogLevel="),
                    HasSubstr("packagerLogLevel=" + level + " "));
        EXPECT_THAT(RecordLine("CreatePackage deploymentLogLevel="),
                    HasSubstr("deploymentLogLevel=" + level + " "));
    }
    RunResult run = RunWith({L"-pt"});
    EXPECT_THAT(RecordLine("Initialize packagerLogLevel="), HasSubstr("packagerLogLevel=-1 "));
}

TEST_F(Program, PreserveTempFilesOnlyForTrueInAnyCase) {
    const std::vector<std::pair<std::vector<std::wstring>, std::string>> cases = {
        {{L"-sf", L"TRUE"}, "flags=1668"}, {{L"-sf", L"True"}, "flags=1668"},
        {{L"/SF", L"tRuE"}, "flags=1668"}, {{L"-sf", L"1"}, "flags=1670"},
        {{L"-sf", L"yes"}, "flags=1670"},  {{L"-sf"}, "flags=1670"},
        {{L"-Sf", L"true"}, "flags=1670"},
    };
    for (const auto& [extra, flags] : cases) {
        RunResult run = RunWith(extra);
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_THAT(RecordLine("CreatePackage deploymentLogLevel="), HasSubstr(flags))
            << ToUtf8(extra[0]) << " " << (extra.size() > 1 ? ToUtf8(extra[1]) : "");
    }
}

TEST_F(Program, DefaultsOfTheTextOptions) {
    RunResult run = RunWith({L"-dp", L""});
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(RecordLine("CreatePackage packageFile="),
              "CreatePackage packageFile=" + ToUtf8(output) + "\\deploy-package.zip");
    EXPECT_THAT(RecordLine("Initialize packagerLogLevel="),
                HasSubstr(" packagerLog=" + ToUtf8(work) + "\\PatchPackager.log "));
    EXPECT_THAT(RecordLine("CreatePackage deploymentLogLevel="),
                HasSubstr(" deploymentLog=" + ToUtf8(work) +
                          "\\PatchDeployment.log eventsHandlerDll=" + ToUtf8(output) +
                          "\\ZelDeploymentEventsHandler.dll "));
    EXPECT_TRUE(GetFileAttributesW((output + L"\\deploy-package.zip").c_str()) !=
                INVALID_FILE_ATTRIBUTES);
}

TEST_F(Program, CatalogAndOutputWithoutValuesFallBackToTheExecutablesFolder) {
    RunResult run = Run({L"-p", kGuid, L"-r", L"0", L"-o", L"-c"});
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_THAT(
        run.outputLines,
        Contains("DeploymentPackager.exe:Deployment Packager Wrapper:Patch catalog file does "
                 "not exist: " +
                 ToUtf8(bin) + "\\windowspatchdata.zip"));
    // Followed by empty arguments, both take the executable's folder.
    WriteTextFile(bin + L"\\windowspatchdata.zip", "catalog");
    run = Run({L"-p", kGuid, L"-r", L"0", L"-c", L"", L"-o", L""});
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_THAT(run.outputLines, Contains("DeploymentPackager.exe:Deployment Packager Wrapper:"
                                          "Package output directory: " +
                                          ToUtf8(bin)));
}

TEST_F(Program, EachFailingLibraryCallBecomesTheExitCode) {
    const std::vector<std::pair<std::string, DWORD>> cases = {
        {"create_status=-2147467259\n", 0x80004005u},
        {"init_status=3\n", 3u},
        {"patches_status=12\n", 12u},
        {"package_status=-9\n", static_cast<DWORD>(-9)},
        {"write_package=0\n", 1u},
        {"create_fault=1\n", 1u},
    };
    const std::string base = script;
    for (const auto& [line, code] : cases) {
        script = base + line;
        RunResult run = RunWith({});
        EXPECT_EQ(run.exitCode, code) << line;
        EXPECT_EQ(run.outputLines.back(),
                  "DeploymentPackager.exe:Deployment Packager Wrapper:BuildPackage finished. "
                  "Result code = " +
                      std::to_string(static_cast<int>(code)) + " ")
            << line;
    }
}

TEST_F(Program, BindingFailuresShowTheDelayLoadCodes) {
    InstallPackager(L"packager-noexport", bin);
    RunResult run = RunWith({});
    ExpectCannotBind(run, "-1066598273");

    DeleteFileW((bin + L"\\KQPackager.dll").c_str());
    run = RunWith({});
    ExpectCannotBind(run, "-1066598274");

    script += "create_fault=1\n";
    InstallPackager(L"packager-recording", bin);
    run = RunWith({});
    ExpectCannotBind(run, "-1073741819");
}

TEST_F(Program, TheLibraryIsFoundThroughThePathAndCopiedFromItsFolder) {
    DeleteFileW((bin + L"\\KQPackager.dll").c_str());
    const std::wstring runtime = dir / L"runtime";
    CreateDirectoryW(runtime.c_str(), nullptr);
    InstallPackager(L"packager-recording", runtime);
    RunResult run = RunWith({L"-crt", runtime});
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_THAT(RecordLine("Initialize Path="), HasSubstr("Path=" + ToUtf8(runtime) + ";"));

    const std::wstring vendor = dir / L"vendor";
    CreateDirectoryW(vendor.c_str(), nullptr);
    InstallPackager(L"packager-recording", vendor);
    run = RunWith({L"-pd", vendor});
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_THAT(run.outputLines,
                Contains("DeploymentPackager.exe:Deployment Packager Wrapper:copy: " +
                         ToUtf8(vendor) + "\\KQPackager.dll " + ToUtf8(bin) + "\\KQPackager.dll"));
}

TEST_F(Program, FaultsTheLibraryHandlesItselfStayWithIt) {
    const std::string base = script;
    script = base + "fault_in=Initialize\nfault_kind=probe\n";
    RunResult run = RunWith({});
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_THAT(Record(), Contains("Initialize probe=bad"));

    script = base + "fault_in=CreatePackage\nfault_kind=repaired\n";
    run = RunWith({});
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_THAT(Record(), Contains("CreatePackage repaired=1"));
    EXPECT_THAT(run.outputLines, Not(Contains(HasSubstr("faulted"))));
}

TEST_F(Program, AFaultTheLibraryLeavesUnhandledIsUnwoundAndTheChainStaysWhole) {
    script += "fault_in=Initialize\nfault_kind=declined\n";
    RunResult run = RunWith({});
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_THAT(run.outputLines,
                Contains("DeploymentPackager.exe:Deployment Packager Wrapper:Initialize: the "
                         "packager library faulted. Err = -1073741819"));
    // Release, the library's next call, finds its handler unwound and (x86) the exception
    // chain free of the abandoned frames.
    EXPECT_THAT(Record(), Contains("Release chain=whole unwound=1"));
}

TEST_F(Program, ALibraryInTheCurrentFolderIsNeverBound) {
    DeleteFileW((bin + L"\\KQPackager.dll").c_str());
    InstallPackager(L"packager-recording", work);
    RunResult run = RunWith({});
    ExpectCannotBind(run, "-1066598274");
    EXPECT_TRUE(Record().empty());
}

TEST_F(Program, AnUnreadableVendorFileNameIsReportedAndTheBuildGoesOn) {
    script += "patch=" + kGuidUpper + ",0x407,:unreadable\n";
    RunResult run = RunWith({});
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_THAT(run.outputLines,
                Contains("DeploymentPackager.exe:Deployment Packager Wrapper:GetVendorPatchFile "
                         "named a file that cannot be read. Err = -1073741819"));
    EXPECT_THAT(Record(), Contains(HasSubstr("CreatePackage item " + kGuidUpper + "/1031")));
}

TEST_F(Program, WShowsAConsoleBeforeValidationAndTheRunGoesOn) {
    // The console is opened before the checker runs, so even a refusal goes to it and not
    // to the caller's redirected output.
    RunResult refused = Run({L"-w"});
    EXPECT_EQ(refused.exitCode, 1u);
    EXPECT_EQ(refused.output, "");
    RunResult run = RunWith({L"-w"});
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(Record().back(), "Release");
}

}  // namespace
