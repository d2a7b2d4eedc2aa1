#pragma once

#include <windows.h>

#include <string>

// What a Win32 text query answered: whether it succeeded, the text (everything before the
// first terminator of the buffer the platform filled, also after a failure) and, after a
// failure, the platform's error code.
struct QueryAnswer {
    bool succeeded = false;
    std::wstring text;
    DWORD error = 0;
};

// Runs a size-then-fill query, `query(buffer, capacity)` behaving as GetCurrentDirectoryW,
// GetEnvironmentVariableW or GetFullPathNameW do: with a large enough buffer it answers the
// characters written (terminator not counted), with a small one the capacity it needs, and 0
// on failure. The first call asks for the size with a null buffer; each fill gets a
// zero-filled buffer one character larger than the size asked for. When the value grew
// between the calls, it fills again with the new size, a few times at most, so the text is
// never cut. The last error is cleared before each call, so an answer of 0 with error 0 is
// the empty value, not a failure; a failure keeps what the platform wrote into the buffer.
template <typename Query>
QueryAnswer FillText(Query query) {
    constexpr int kAttempts = 8;
    QueryAnswer answer;
    SetLastError(0);
    DWORD capacity = query(nullptr, 0) + 1;
    std::wstring buffer;
    for (int attempt = 1;; ++attempt) {
        buffer.assign(capacity, L'\0');
        SetLastError(0);
        const DWORD written = query(buffer.data(), capacity);
        const DWORD error = GetLastError();
        if (written < capacity || attempt == kAttempts) {
            answer.succeeded = written < capacity && (written > 0 || error == 0);
            answer.error = written == 0 ? error : answer.succeeded ? 0 : ERROR_INSUFFICIENT_BUFFER;
            answer.text.assign(buffer.c_str());
            return answer;
        }
        capacity = written + 1;
    }
}
