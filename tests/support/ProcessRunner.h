#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// The exit code a child ended by `RunOptions::killWhen` gets.
inline constexpr DWORD kKilledExitCode = 0xC000013A;

// What a child process left behind.
struct RunResult {
    bool started = false;
    DWORD startError = 0;  // last error of CreateProcessW when `started` is false
    bool timedOut = false;
    bool killed = false;  // ended by `killWhen`
    DWORD exitCode = 0;
    std::string output;                     // standard output, raw bytes
    std::string errorOutput;                // standard error, raw bytes
    std::vector<std::string> outputLines;   // standard output split at LF, CR stripped
    std::vector<std::string> debugStrings;  // debugger output, in order
};

struct RunOptions {
    std::wstring workingDirectory;               // empty: the caller's
    std::vector<std::wstring> extraEnvironment;  // "NAME=value" entries added to ours
    DWORD timeoutMs = 60000;
    bool newConsole = false;  // give the child a console of its own (CREATE_NEW_CONSOLE)
    // Asked about every 20 ms while the child runs; once it answers true the child is ended
    // with TerminateProcess, as an agent ends a run that exceeds its time limit.
    std::function<bool()> killWhen;
};

// Quotes one argument the way CommandLineToArgvW splits it back.
std::wstring QuoteArgument(const std::wstring& argument);

// Starts `program` with `arguments` (quoted for it), standard output and error redirected to
// files, under a debugger loop that collects its debugger-output strings; waits for it to
// end (killing it after the timeout) and returns what it left.
RunResult RunProcess(const std::wstring& program, const std::vector<std::wstring>& arguments,
                     const RunOptions& options = {});

// Same, with the command line given whole (for tests of how the program splits it).
RunResult RunProcessCommandLine(const std::wstring& program, const std::wstring& commandLine,
                                const RunOptions& options = {});
