#pragma once

#include <windows.h>

#include <string>

// The Util module: path, file, environment, console and identifier operations.
//
// Conventions shared by every operation: a failure is reported first by a message through
// LogReport under the component "Util class" (level 8 unless noted), then by the thread's
// last-error code, then by the result (false or an empty string). Nothing throws. Path
// arguments may be null; "null or empty" means a null pointer or an empty string.

inline constexpr const wchar_t* kUtilComponent = L"Util class";

// Signature of GetModuleFileNameW, injectable so that tests can play long executable paths.
using ModuleFileNameFn = DWORD(WINAPI*)(HMODULE, LPWSTR, DWORD);

// --- Path queries (never create the Util instance) --------------------------------------

// Full path of the running executable; empty on failure (last error: the code of the
// failing call, 122 when the path needs more than 4159 characters). The buffer grows in
// steps of 260 characters up to 4160. With `logErrors` false the failure goes to the
// debugger output only, never through the logger (the logger itself calls it that way).
std::wstring GetExePath(bool logErrors);
std::wstring GetExePath(bool logErrors, ModuleFileNameFn moduleFileName);

// Current directory of the process; empty on failure.
std::wstring GetCurrentDirectoryPath();

// Last element of `path` (after the last "\" or "/"), optionally without its extension.
// Null or empty path: empty result, last error 87, and a message (to the logger with
// `logErrors`, else to the debugger output).
std::wstring GetNameFromPath(const wchar_t* path, bool stripExtension, bool logErrors);

// True for "X:\..." and "X:/..." (any character before the colon), "X:" alone, and anything
// starting with "\\" (or a lone "\"). Forward slashes never make a UNC path.
bool IsFullPath(const wchar_t* path);

// True when `text` and `prefix` agree over the shorter of their lengths, each counted up to
// at most 9 characters; a null pointer counts as the empty text.
bool PrefixEqual(const wchar_t* text, const wchar_t* prefix);

// True when a file or folder of that name exists. Drive paths of 260 characters or more are
// queried with the "\\?\" prefix. Null or empty: false with last error 87.
bool PathExists(const wchar_t* path);

// --- Size-then-fill helper -----------------------------------------------------------------

// Runs the two-call dance of the Win32 string queries: `query(nullptr, 0)` for the size,
// then `query(buffer, size + 1)` into a zero-filled buffer of size + 1 characters.
// Returns the second call's answer; `buffer` holds what that call wrote.
template <typename Query>
DWORD QueryIntoBuffer(Query query, std::wstring& buffer) {
    const DWORD size = query(nullptr, 0);
    buffer.assign(static_cast<size_t>(size) + 1, L'\0');
    return query(buffer.data(), size + 1);
}

// Text of a zero-filled buffer: everything before its first terminator.
std::wstring TextOf(const std::wstring& buffer);
