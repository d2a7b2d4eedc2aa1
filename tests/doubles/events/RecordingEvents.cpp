// A test double of ZelNSEvent.dll. It appends every call to the file named by the
// DP_EVENT_RECORD environment variable, one line per call:
//   level <TAB> processName <TAB> component <TAB> message
// with "\n" and "\t" in the fields written as the two characters \ n and \ t.
// With DP_EVENT_FAULT set, every call raises an access violation instead; with
// DP_EVENT_DLLMAIN_FAULT set, loading the library does (in DllMain).
// Built without CEReportEventEx (DP_NO_REPORT_EXPORT) it stands for a library that lacks it.
#include <windows.h>

#include "Fault.h"

#include <string>

#include "Text.h"
#include "WinResources.h"

namespace {

[[maybe_unused]] std::string Escape(const wchar_t* text) {
    std::wstring escaped;
    for (const wchar_t* p = text ? text : L"(null)"; *p; ++p) {
        if (*p == L'\n') {
            escaped += L"\\n";
        } else if (*p == L'\t') {
            escaped += L"\\t";
        } else {
            escaped.push_back(*p);
        }
    }
    return ToUtf8(escaped);
}

void Record(const std::string& line) {
    wchar_t path[MAX_PATH * 4];
    if (GetEnvironmentVariableW(L"DP_EVENT_RECORD", path, MAX_PATH * 4) == 0) {
        return;
    }
    const UniqueFile file(CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file) {
        WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH &&
        GetEnvironmentVariableW(L"DP_EVENT_DLLMAIN_FAULT", nullptr, 0) != 0) {
        RaiseAccessViolation();
    }
    return TRUE;
}

#ifndef DP_NO_REPORT_EXPORT
__declspec(dllexport) int __stdcall CEReportEventEx(int level, const wchar_t* processName,
                                                    const wchar_t* component,
                                                    const wchar_t* message) {
    if (GetEnvironmentVariableW(L"DP_EVENT_FAULT", nullptr, 0) != 0) {
        RaiseAccessViolation();
    }
    Record(std::to_string(level) + "\t" + Escape(processName) + "\t" + Escape(component) + "\t" +
           Escape(message) + "\n");
    return 0;
}
#endif

__declspec(dllexport) int __stdcall CEReportEventEx2(int level, const wchar_t* processName,
                                                     const wchar_t* component,
                                                     const wchar_t* message) {
    (void)level;
    (void)processName;
    (void)component;
    (void)message;
    Record("CEReportEventEx2 was called\n");
    return 0;
}

}  // extern "C"
