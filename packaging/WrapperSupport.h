#pragma once

// What the wrapper's sources share: its component, its reports and its calls into the
// library.

#include <cstdint>
#include <string>

#include "Guard.h"
#include "Logger.h"

inline constexpr const wchar_t* kWrapperComponent = L"Deployment Packager Wrapper";

template <typename... Args>
void Report(int level, const wchar_t* format, Args... args) {
    LogReport(level, kWrapperComponent, format, args...);
}

inline const wchar_t* NullWhenEmpty(const std::wstring& text) {
    return text.empty() ? nullptr : text.c_str();
}

// Calls into the library under the fault guard. A fault would otherwise end the process
// with an unhandled exception (on Windows, a crash dialog that an unattended agent waits on);
// the library's state after it is unknown, so the build stops with result 1.
template <typename Call>
bool CallLibrary(const wchar_t* operation, Call call, int32_t* status) {
    auto invoke = [&] { *status = call(); };
    uint32_t code = 0;
    if (RunGuardedCall(invoke, &code)) {
        return true;
    }
    Report(kLevelError, L"%s: the packager library faulted. Err = %d", operation,
           static_cast<int>(code));
    return false;
}

// CallLibrary with its status checked: 0 when the call succeeded; 1 when it faulted; otherwise
// its status, reported with `failure` (a format that takes it as "%d").
template <typename Call>
int32_t CheckedLibraryCall(const wchar_t* operation, const wchar_t* failure, Call call) {
    int32_t status = 0;
    if (!CallLibrary(operation, call, &status)) {
        return 1;
    }
    if (status != 0) {
        Report(kLevelError, failure, static_cast<int>(status));
    }
    return status;
}
