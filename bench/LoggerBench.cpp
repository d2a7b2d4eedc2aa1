// Reports per second through LogReport against a bare std::wcout loop writing the same
// lines, in the same run. Run it with standard output redirected to a file; the figures go
// to standard error.
#include <windows.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "DebugOutput.h"
#include "Logger.h"

namespace {

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    const int count = argc > 1 ? std::atoi(argv[1]) : 200000;
    // "--no-debugger-output" separates the logger's own cost from the platform's
    // OutputDebugStringW, which every report without an event library pays.
    const bool quietDebugger = argc > 2 && std::string(argv[2]) == "--no-debugger-output";
    if (quietDebugger) {
        SetDebugOutputForTesting([](const wchar_t*) {}, [](const char*) {});
    }
    const int rounds = 3;
    const std::wstring process = L"logger_bench.exe";
    LogReport(kLevelInfo, L"Bench", L"%s", L"warm-up: binds the logger");

    double best[2] = {1e9, 1e9};
    for (int round = 0; round < rounds; ++round) {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < count; ++i) {
            std::wcout << process << L":" << L"Deployment Packager Wrapper" << L":"
                       << L"Vendor patch file: C:\\work\\vendor\\" << i << L".msp" << L'\n';
        }
        best[0] = std::min(best[0], Seconds(std::chrono::steady_clock::now() - start));

        start = std::chrono::steady_clock::now();
        for (int i = 0; i < count; ++i) {
            LogReport(kLevelInfo, L"Deployment Packager Wrapper",
                      L"Vendor patch file: C:\\work\\vendor\\%d.msp", i);
        }
        best[1] = std::min(best[1], Seconds(std::chrono::steady_clock::now() - start));
    }
    std::wcout.flush();
    std::fprintf(stderr,
                 "reports: %d per run, best of %d%s\n"
                 "bare wcout loop: %.3f s (%.0f lines/s)\n"
                 "LogReport:       %.3f s (%.0f reports/s)\n"
                 "ratio (LogReport / bare): %.2fx\n",
                 count, rounds, quietDebugger ? " (debugger output discarded)" : "", best[0],
                 count / best[0], best[1], count / best[1], best[1] / best[0]);
    return 0;
}
