// OpenConsole in a process of its own, as the program calls it: a GUI-subsystem process
// whose standard output is redirected by its caller.
#include <gtest/gtest.h>

#include "ProcessRunner.h"
#include "TestEnv.h"

namespace {

constexpr DWORD kWroteToStandardOutput = 8;

TEST(OpenConsole, WithoutShowAProcessWithoutConsoleKeepsItsOutput) {
    RunResult run = RunProcess(BinPath(L"console_probe.exe"), {L"hide"});
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode & 3u, 0u);  // no console window before or after
    EXPECT_TRUE(run.exitCode & kWroteToStandardOutput);
    EXPECT_EQ(run.output, "console probe\r\n");
}

TEST(OpenConsole, ShowCreatesAConsoleAndRebindsTheStandardStreams) {
    RunResult run = RunProcess(BinPath(L"console_probe.exe"), {L"show"});
    ASSERT_TRUE(run.started);
    // The caller's redirected file no longer receives what the process writes, also after a
    // second call. (Headless Wine gives no console window, so whether the second call kept the
    // same window cannot be observed here.)
    EXPECT_EQ(run.output, "");
}

TEST(OpenConsole, HideInAProcessWithAConsoleOfItsOwnChangesNoStream) {
    RunOptions options;
    options.newConsole = true;
    RunResult run = RunProcess(BinPath(L"console_probe.exe"), {L"hide"}, options);
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.output, "console probe\r\n");
}

}  // namespace
