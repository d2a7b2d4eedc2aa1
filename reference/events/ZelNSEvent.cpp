// Reference event-reporting library: writes each report to the Windows Event Log.
#include <windows.h>

#include <string>

#include "WinResources.h"

namespace {

WORD EventTypeOf(int level) {
    switch (level) {
        case 1:
            return EVENTLOG_ERROR_TYPE;
        case 2:
            return EVENTLOG_WARNING_TYPE;
        default:
            return EVENTLOG_INFORMATION_TYPE;
    }
}

// The event is "component: message", or the message alone without a component.
std::wstring EventText(const wchar_t* component, const wchar_t* message) {
    std::wstring text;
    if (component != nullptr && component[0] != L'\0') {
        text = std::wstring(component) + L": ";
    }
    text += message != nullptr ? message : L"";
    return text;
}

int Report(int level, const wchar_t* processName, const wchar_t* component,
           const wchar_t* message) {
    const wchar_t* source =
        processName != nullptr && processName[0] != L'\0' ? processName : L"Deployment Packager";
    const UniqueEventSource log(RegisterEventSourceW(nullptr, source));
    if (!log) {
        return static_cast<int>(GetLastError());
    }
    const std::wstring text = EventText(component, message);
    const wchar_t* strings[] = {text.c_str()};
    const BOOL written = ReportEventW(log.Get(), EventTypeOf(level), 0, static_cast<DWORD>(level),
                                      nullptr, 1, 0, strings, nullptr);
    return written ? 0 : static_cast<int>(GetLastError());
}

}  // namespace

extern "C" {

// Reports one event. Never fails its caller: the result is 0, or the Win32 error code of
// the event-log call that failed (the report is then lost, nothing else happens).
__declspec(dllexport) int __stdcall CEReportEventEx(int level, const wchar_t* processName,
                                                    const wchar_t* component,
                                                    const wchar_t* message) {
    try {
        return Report(level, processName, component, message);
    } catch (...) {
        return static_cast<int>(ERROR_NOT_ENOUGH_MEMORY);
    }
}

// The same report; kept for callers that look this entry up.
__declspec(dllexport) int __stdcall CEReportEventEx2(int level, const wchar_t* processName,
                                                     const wchar_t* component,
                                                     const wchar_t* message) {
    return CEReportEventEx(level, processName, component, message);
}

}  // extern "C"
