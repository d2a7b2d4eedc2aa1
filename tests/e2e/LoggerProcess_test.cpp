// The logger as a caller of the program sees it: standard output, debugger output and the
// event library installed in the Wine prefix's Common Files folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "ProcessRunner.h"
#include "TestEnv.h"

namespace {

using ::testing::AnyOf;
using ::testing::ElementsAre;
using ::testing::Eq;
using ::testing::IsEmpty;
using ::testing::StartsWith;

struct ProbeRun {
    RunResult result;
    std::vector<std::string> events;
};

ProbeRun RunProbe(const std::wstring& scenario, const wchar_t* eventLibrary = nullptr,
                  std::vector<std::wstring> extraEnvironment = {}) {
    TempDir dir;
    const std::wstring record = dir / L"events.txt";
    ProbeRun run;
    {
        std::unique_ptr<InstalledEventLibrary> installed;
        if (eventLibrary != nullptr) {
            installed = std::make_unique<InstalledEventLibrary>(
                BinPath(std::wstring(L"doubles\\") + eventLibrary + L"\\ZelNSEvent.dll"));
            EXPECT_TRUE(installed->Installed());
        } else {
            EXPECT_TRUE(InstalledEventLibrary::EnsureAbsent());
        }
        RunOptions options;
        options.workingDirectory = dir.Path();
        options.extraEnvironment = std::move(extraEnvironment);
        options.extraEnvironment.push_back(L"DP_EVENT_RECORD=" + record);
        run.result = RunProcess(BinPath(L"logger_probe.exe"), {scenario}, options);
    }
    EXPECT_TRUE(run.result.started);
    EXPECT_FALSE(run.result.timedOut);
    run.events = SplitLines(ReadTextFile(record));
    return run;
}

const std::string kCannotLoad =
    "LoggerHelper: LoggerHelper::Init cannot load ZelNSEvent.dll, error = 126. ";

// The probe's "lines", as standard output shows them.
const std::vector<std::string> kProbeLines = {"logger_probe.exe:Probe:first one",
                                              "logger_probe.exe::second 2",
                                              "logger_probe.exe:Probe:third"};

// Each line as the debugger output has it.
std::vector<std::string> AsDebugStrings(const std::vector<std::string>& lines) {
    std::vector<std::string> strings;
    for (const std::string& line : lines) {
        strings.push_back(line + "\n");
    }
    return strings;
}

TEST(LoggerProcess, WithoutTheEventLibraryLinesGoToTheDebuggerOutput) {
    ProbeRun run = RunProbe(L"lines");
    EXPECT_EQ(run.result.exitCode, 0u);
    std::vector<std::string> lines = {kCannotLoad};
    lines.insert(lines.end(), kProbeLines.begin(), kProbeLines.end());
    EXPECT_EQ(run.result.outputLines, lines);
    // Standard output is in text mode.
    EXPECT_NE(run.result.output.find("first one\r\n"), std::string::npos);
    EXPECT_EQ(run.result.debugStrings, AsDebugStrings(lines));
    EXPECT_THAT(run.events, IsEmpty());
}

// Reports go to an event library that has the export, and to the debugger output otherwise;
// standard output has them either way.
TEST(LoggerProcess, ReportsGoToAnEventLibraryWithTheExportAndNotToTheDebugger) {
    const struct {
        const wchar_t* library;
        bool exported;
    } cases[] = {{L"events-recording", true}, {L"events-noexport", false}};
    for (const auto& [library, exported] : cases) {
        ProbeRun run = RunProbe(L"lines", library);
        EXPECT_EQ(run.result.outputLines, kProbeLines);
        if (exported) {
            EXPECT_THAT(run.result.debugStrings, IsEmpty());
            EXPECT_THAT(run.events, ElementsAre("4\tlogger_probe.exe\tProbe\tfirst one",
                                                "1\tlogger_probe.exe\t\tsecond 2",
                                                "16\tlogger_probe.exe\tProbe\tthird"));
        } else {
            EXPECT_EQ(run.result.debugStrings, AsDebugStrings(kProbeLines));
            EXPECT_THAT(run.events, IsEmpty());  // CEReportEventEx2 is never called
        }
    }
}

TEST(LoggerProcess, AnEventLibraryFaultingInDllMainLosesNoReport) {
    ProbeRun run = RunProbe(L"lines", L"events-recording", {L"DP_EVENT_DLLMAIN_FAULT=1"});
    EXPECT_EQ(run.result.exitCode, 0u);
    // Where the loader handles the fault itself the load fails; otherwise the logger's own
    // guard takes it. Either way one self report, then every line, none through the library.
    ASSERT_EQ(run.result.outputLines.size(), 4u);
    EXPECT_THAT(run.result.outputLines[0],
                AnyOf(StartsWith("LoggerHelper: LoggerHelper::Init cannot load ZelNSEvent.dll, "
                                 "error = "),
                      Eq("LoggerHelper: LoggerHelper::Init failed")));
    EXPECT_EQ(
        std::vector<std::string>(run.result.outputLines.begin() + 1, run.result.outputLines.end()),
        kProbeLines);
    ASSERT_EQ(run.result.debugStrings.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(run.result.debugStrings.begin() + 1,
                                       run.result.debugStrings.end()),
              AsDebugStrings(kProbeLines));
    EXPECT_THAT(run.events, IsEmpty());
}

TEST(LoggerProcess, AFaultingReportIsTracedAndTheRunGoesOn) {
    ProbeRun run = RunProbe(L"fault", L"events-recording");
    EXPECT_EQ(run.result.exitCode, 0u);
    ASSERT_EQ(run.events.size(), 3u);
    EXPECT_EQ(run.events[0],
              "1\tlogger_probe.exe\tLogger\tLogger::Trace: unexpected exception during "
              "reporting. \\nError code: 0xC0000005\\n");
    EXPECT_EQ(run.events[1],
              "1\tlogger_probe.exe\tLogger\tLogger::Trace: unexpected exception during "
              "reporting. \\nFormat  string: %s\\n");
    EXPECT_EQ(run.events[2], "4\tlogger_probe.exe\tProbe\tafter the fault");
    EXPECT_EQ(run.result.outputLines.back(), "logger_probe.exe:Probe:after the fault");
}

TEST(LoggerProcess, AnEventLibraryFaultingOnEveryCallDoesNotStopTheRun) {
    ProbeRun run = RunProbe(L"lines", L"events-recording", {L"DP_EVENT_FAULT=1"});
    EXPECT_EQ(run.result.exitCode, 0u);
    EXPECT_FALSE(run.result.timedOut);
    // Every report still reaches standard output, followed by its traces.
    EXPECT_EQ(std::count(run.result.outputLines.begin(), run.result.outputLines.end(),
                         "logger_probe.exe:Probe:third"),
              1);
}

TEST(LoggerProcess, AnUnrepresentableCharacterDoesNotSilenceLaterLines) {
    ProbeRun run = RunProbe(L"unicode");
    ASSERT_EQ(run.result.outputLines.size(), 5u);
    EXPECT_EQ(run.result.outputLines[1], "logger_probe.exe:Probe:path: C:\\data\\??\\x");
    EXPECT_EQ(run.result.outputLines[2], "logger_probe.exe:Probe:caf\xe9 stays");  // code page 1252
    // One '?' per character the code page cannot show, whatever its length in UTF-16.
    EXPECT_EQ(run.result.outputLines[3], "logger_probe.exe:Probe:pair ?, lone ? and ?, pair ?.");
    EXPECT_EQ(run.result.outputLines[4], "logger_probe.exe:Probe:later line");
}

TEST(ProcessRunner, ReturnsTheExitCodeAndPassesArgumentsIntact) {
    RunResult result = RunProcess(BinPath(L"logger_probe.exe"), {L"exit", L"42"});
    EXPECT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, 42u);
    EXPECT_EQ(QuoteArgument(L"a b"), L"\"a b\"");
    EXPECT_EQ(QuoteArgument(L""), L"\"\"");
    EXPECT_EQ(QuoteArgument(L"x\\\"y"), L"\"x\\\\\\\"y\"");
    EXPECT_EQ(QuoteArgument(L"tail\\ space\\"), L"\"tail\\ space\\\\\"");
}

TEST(ProcessRunner, ReportsAProgramThatCannotStart) {
    RunResult result = RunProcess(BinPath(L"no-such-program.exe"), {});
    EXPECT_FALSE(result.started);
    EXPECT_NE(result.startError, 0u);
}

}  // namespace
