#pragma once

// What the Util module's sources share: the component they report under, the tests on their
// arguments and the way they fail.

#include <windows.h>

#include <cstddef>
#include <string>

#include "Queries.h"

inline constexpr const wchar_t* kUtilComponent = L"Util class";
inline constexpr size_t kLongPathThreshold = 260;

inline bool IsNullOrEmpty(const wchar_t* path) {
    return path == nullptr || path[0] == L'\0';
}

// The length of `text` up to `limit` characters; 0 for null.
inline size_t BoundedLength(const wchar_t* text, size_t limit) {
    size_t n = 0;
    if (text != nullptr) {
        while (n < limit && text[n] != L'\0') {
            ++n;
        }
    }
    return n;
}

// Sets the thread's last-error code and answers `result`: how every operation fails, and
// how some set the code on success.
template <typename Result>
Result WithLastError(DWORD code, Result result) {
    SetLastError(code);
    return result;
}

// The program's path from `source`; a failure is reported ("GetExePath failed. Err = %d") and
// answers "" with the failure's code as the last error.
std::wstring ReportedExePath(ModuleFileName& source);
