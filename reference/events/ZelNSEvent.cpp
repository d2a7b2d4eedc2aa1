// Reference event-reporting library: writes each report to the Windows Event Log.
#include <windows.h>

#include <string>

#include "EventText.h"
#include "WinResources.h"

namespace {

int Report(int level, const wchar_t* processName, const wchar_t* component,
           const wchar_t* message) {
    const UniqueEventSource log(RegisterEventSourceW(nullptr, EventSourceOf(processName)));
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
