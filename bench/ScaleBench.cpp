// The tool's cost as the catalog grows: wall time and peak working set of DeploymentPackager.exe
// for catalogs of 10 to 100,000 patches (the scriptable packager double), beside a minimal
// program doing only the inherent work per patch, in the same run. Then process start to exit
// for a refused command line beside an empty GUI program.
// Usage: scale_bench [largest count]
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "TestEnv.h"
#include "WinResources.h"

namespace {

struct Measure {
    double seconds = 1e9;
    size_t peakBytes = 0;
    DWORD exitCode = 0;
};

Measure RunOnce(const std::wstring& program, const std::wstring& arguments,
                const std::wstring& folder, const std::wstring& outputFile) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    const UniqueFile out(CreateFileW(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                     CREATE_ALWAYS, 0, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out.Get();
    startup.hStdError = out.Get();
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    PROCESS_INFORMATION process{};
    Measure measure;
    const auto start = std::chrono::steady_clock::now();
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        folder.c_str(), &startup, &process)) {
        return measure;
    }
    const UniqueHandle processHandle(process.hProcess);
    const UniqueHandle threadHandle(process.hThread);
    // Sampled while the process runs: Wine answers no memory figures once it has ended.
    for (;;) {
        PROCESS_MEMORY_COUNTERS counters{};
        if (GetProcessMemoryInfo(process.hProcess, &counters, sizeof(counters))) {
            measure.peakBytes = std::max<size_t>(measure.peakBytes, counters.PeakWorkingSetSize);
        }
        if (WaitForSingleObject(process.hProcess, 2) == WAIT_OBJECT_0) {
            break;
        }
    }
    measure.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    GetExitCodeProcess(process.hProcess, &measure.exitCode);
    return measure;
}

Measure Best(int rounds, const std::wstring& program, const std::wstring& arguments,
             const std::wstring& folder, const std::wstring& outputFile) {
    Measure best;
    for (int i = 0; i < rounds; ++i) {
        const Measure m = RunOnce(program, arguments, folder, outputFile);
        if (m.seconds < best.seconds) {
            best = m;
        }
    }
    return best;
}

// The bench's folder: bin (the tool, the minimal client, an empty GUI program and the
// recording packager), catalog and out; a quiet event library is installed meanwhile.
std::wstring Prepare(const TempDir& dir) {
    const std::wstring bin = dir / L"bin";
    for (const wchar_t* sub : {L"bin", L"catalog", L"out"}) {
        CreateDirectoryW((dir / sub).c_str(), nullptr);
    }
    for (const wchar_t* file :
         {L"DeploymentPackager.exe", L"minimal_client.exe", L"empty_gui.exe"}) {
        CopyFileW(BinPath(file).c_str(), (bin + L"\\" + file).c_str(), FALSE);
    }
    CopyFileW(BinPath(L"doubles\\packager-recording\\KQPackager.dll").c_str(),
              (bin + L"\\KQPackager.dll").c_str(), FALSE);
    WriteTextFile(dir / L"catalog\\windowspatchdata.zip", "catalog");
    SetEnvironmentVariableW(L"DP_PACKAGER_SCRIPT", (dir / L"script.txt").c_str());
    SetEnvironmentVariableW(L"DP_PACKAGER_RECORD", nullptr);
    SetEnvironmentVariableW(L"DP_EVENT_RECORD", nullptr);
    return bin;
}

// A packager script that lists `count` patches.
std::string ScriptOf(size_t count) {
    std::string script;
    for (size_t i = 0; i < count; ++i) {
        char line[96];
        std::snprintf(line, sizeof(line),
                      "patch=%08zX-0000-4000-8000-000000000001,0x409,v\\%zu.msp\n", i + 1, i);
        script += line;
    }
    return script;
}

// The tool against the minimal client on `count` patches: one row; the tool's time per patch.
double MeasureRow(const TempDir& dir, const std::wstring& bin, size_t count) {
    WriteTextFile(dir / L"script.txt", ScriptOf(count));
    const std::wstring tool = L"-p 00000001-0000-4000-8000-000000000001 -r 0 -c catalog -o out";
    const int rounds = count >= 100000 ? 1 : 3;
    const Measure t =
        Best(rounds, bin + L"\\DeploymentPackager.exe", tool, dir.Path(), dir / L"tool.txt");
    const Measure m =
        Best(rounds, bin + L"\\minimal_client.exe", L"", dir.Path(), dir / L"minimal.txt");
    if (t.exitCode != 0 || m.exitCode != 0) {
        std::printf("exit codes: tool %lu, minimal %lu\n", t.exitCode, m.exitCode);
    }
    const double perPatch = t.seconds / count * 1e6;
    std::printf("%9zu %12.3f %10.1f %12.3f %10.1f %12.2f %7.2fx\n", count, t.seconds,
                t.peakBytes / 1048576.0, m.seconds, m.peakBytes / 1048576.0, perPatch,
                t.seconds / m.seconds);
    return perPatch;
}

}  // namespace

int main(int argc, char** argv) {
    const size_t largest = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
    TempDir dir;
    const std::wstring bin = Prepare(dir);
    // A quiet event library: the report path without the debugger output, whose cost under
    // Wine (about 32 microseconds a call) is the platform's, not the tool's.
    InstalledEventLibrary events(BinPath(L"doubles\\events-recording\\ZelNSEvent.dll"));
    std::printf("%9s %12s %10s %12s %10s %12s %8s\n", "patches", "tool s", "tool MiB", "minimal s",
                "min MiB", "tool us/patch", "ratio");
    double previousPerPatch = 0;
    size_t previousCount = 0;
    for (size_t count : {size_t{10}, size_t{1000}, size_t{10000}, size_t{100000}}) {
        if (count > largest) {
            break;
        }
        const double perPatch = MeasureRow(dir, bin, count);
        if (previousCount != 0 && count >= 10000) {
            std::printf("%9s growth from %zu: %.2fx per patch (1.00 is linear)\n", "",
                        previousCount, perPatch / previousPerPatch);
        }
        previousPerPatch = perPatch;
        previousCount = count;
    }
    const Measure refused =
        Best(10, bin + L"\\DeploymentPackager.exe", L"", dir.Path(), dir / L"refused.txt");
    const Measure empty = Best(10, bin + L"\\empty_gui.exe", L"", dir.Path(), dir / L"empty.txt");
    std::printf(
        "refused command line: %.3f s, empty GUI program: %.3f s, ratio %.2fx (best of 10)\n",
        refused.seconds, empty.seconds, refused.seconds / empty.seconds);
    return 0;
}
