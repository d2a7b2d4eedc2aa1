// Reports per second through LogReport against bare std::wcout loops writing the same
// lines, in the same run: one that flushes every line as LogReport does (the honest
// baseline) and one that leaves the lines to the C runtime's buffer (what flushing costs).
// Run it with standard output redirected to a file; the figures go to standard error.
#include <windows.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "Logger.h"
#include "LoggerPlatform.h"

namespace {

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The real platform, with the debugger output discarded when asked ("--no-debugger-output"),
// to separate the logger's own cost from OutputDebugStringW's.
class BenchPlatform : public RealLoggerPlatform {
  public:
    bool quiet = false;
    void Wide(const wchar_t* text) override {
        if (!quiet) {
            RealLoggerPlatform::Wide(text);
        }
    }
    void Narrow(const char* text) override {
        if (!quiet) {
            RealLoggerPlatform::Narrow(text);
        }
    }
};

BenchPlatform& Platform() {
    static BenchPlatform* const platform = new BenchPlatform();  // outlives the logger
    return *platform;
}

}  // namespace

// This program's process-wide logger: set up by main before the first report.
LoggerPlatform& ProcessLoggerPlatform() {
    return Platform();
}

namespace {

// Seconds for `count` lines written by a bare std::wcout loop, each flushed or not.
double BareLoop(int count, bool flushed) {
    const std::wstring process = L"logger_bench.exe";
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        std::wcout << process << L":" << L"Deployment Packager Wrapper" << L":"
                   << L"Vendor patch file: C:\\work\\vendor\\" << i << L".msp" << L'\n';
        if (flushed) {
            std::wcout.flush();
        }
    }
    const double seconds = Seconds(std::chrono::steady_clock::now() - start);
    std::wcout.flush();
    return seconds;
}

// Seconds for `count` of the same lines through LogReport.
double ReportLoop(int count) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        LogReport(kLevelInfo, L"Deployment Packager Wrapper",
                  L"Vendor patch file: C:\\work\\vendor\\%d.msp", i);
    }
    return Seconds(std::chrono::steady_clock::now() - start);
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    const int count = argc > 1 ? std::atoi(argv[1]) : 200000;
    // "--no-debugger-output" separates the logger's own cost from the platform's
    // OutputDebugStringW, which every report without an event library pays.
    const bool quietDebugger = argc > 2 && std::string(argv[2]) == "--no-debugger-output";
    Platform().quiet = quietDebugger;
    const int rounds = 3;
    LogReport(kLevelInfo, L"Bench", L"%s", L"warm-up: binds the logger");

    double best[3] = {1e9, 1e9, 1e9};
    for (int round = 0; round < rounds; ++round) {
        for (int flushed = 0; flushed < 2; ++flushed) {
            best[flushed] = std::min(best[flushed], BareLoop(count, flushed != 0));
        }
        best[2] = std::min(best[2], ReportLoop(count));
    }
    std::wcout.flush();
    std::fprintf(stderr,
                 "reports: %d per run, best of %d%s\n"
                 "bare wcout loop, buffered:        %.3f s (%.0f lines/s)\n"
                 "bare wcout loop, flushed per line: %.3f s (%.0f lines/s)\n"
                 "LogReport (flushed per report):   %.3f s (%.0f reports/s)\n"
                 "ratio (LogReport / flushed bare):  %.2fx\n"
                 "ratio (LogReport / buffered bare): %.2fx\n",
                 count, rounds, quietDebugger ? " (debugger output discarded)" : "", best[0],
                 count / best[0], best[1], count / best[1], best[2], count / best[2],
                 best[2] / best[1], best[2] / best[0]);
    return 0;
}
