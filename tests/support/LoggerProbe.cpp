// Makes the reports a test names on its command line, so that the logger can be watched
// from outside the process.
#include <windows.h>
#include <shellapi.h>

#include <clocale>
#include <cstdlib>
#include <string>

#include "Logger.h"
#include "WinResources.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    std::setlocale(LC_ALL, "");
    int argc = 0;
    const UniqueLocalMemory arguments(CommandLineToArgvW(GetCommandLineW(), &argc));
    wchar_t** argv = static_cast<wchar_t**>(arguments.Get());
    const std::wstring scenario = argc > 1 ? argv[1] : L"";
    int exitCode = 0;
    if (scenario == L"lines") {
        LogReport(kLevelInfo, L"Probe", L"first %s", L"one");
        LogReport(kLevelError, nullptr, L"second %d", 2);
        LogReport(16, L"Probe", L"third");
    } else if (scenario == L"fault") {
        LogReport(kLevelError, L"Probe", L"%s", reinterpret_cast<const wchar_t*>(5));
        LogReport(kLevelInfo, L"Probe", L"after the fault");
    } else if (scenario == L"unicode") {
        LogReport(kLevelInfo, L"Probe", L"path: %s", L"C:\\data\\\u4e2d\u6587\\x");
        LogReport(kLevelInfo, L"Probe", L"caf\u00e9 stays");
        // Two UTF-16 units each; a lone surrogate is a character of its own.
        LogReport(kLevelInfo, L"Probe",
                  L"pair \U0001F600, lone \xD800 and \xDC00, pair \U00010437.");
        LogReport(kLevelInfo, L"Probe", L"later line");
    } else if (scenario == L"exit") {
        exitCode = argc > 2 ? _wtoi(argv[2]) : 0;
    }
    return exitCode;
}
