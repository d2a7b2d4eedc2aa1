#pragma once

#include <windows.h>

#include <string>

// The Util module: path, file, environment, console and identifier operations.
//
// Conventions shared by every operation: a failure is reported first by a message through
// LogReport under the component "Util class" (level 8 unless noted), then by the thread's
// last-error code, then by the result (false or an empty string). Nothing throws. Path
// arguments may be null; "null or empty" means a null pointer or an empty string.

// --- Path queries (never create the Util instance) --------------------------------------

// Full path of the running executable; empty on failure (last error: the code of the
// failing call, 122 when the path needs more than 4159 characters). The buffer grows in
// steps of 260 characters up to 4160. With `logErrors` false the failure goes to the
// debugger output only, never through the logger. The logger does not call this: it reads the
// path through ExecutablePathWithoutLogger (Queries.h), the same query on its own platform.
std::wstring GetExePath(bool logErrors);

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

// --- File, environment, console and identifier utilities --------------------------------

// Copies a file, replacing an existing destination. Null or empty paths: last error 5.
bool FileCopy(const wchar_t* source, const wchar_t* destination);

// Deletes a file; true when it is gone afterwards (also when it was never there). Failure
// message: "DeleteFile failed. File = %s, Err = %d " (with its trailing blank).
bool DeleteFilePath(const wchar_t* path);

// The variable's whole value; empty with last error 203 when it is not defined, and empty
// with last error 0 when it is defined but empty.
std::wstring GetEnvVar(const wchar_t* name);

// Sets the variable in this process's environment; a null value removes it.
bool SetEnvVar(const wchar_t* name, const wchar_t* value);

// With `show`: shows the process's console window, or creates a console and binds the C
// runtime's standard streams to it. Without: hides a console window the process has.
void OpenConsole(bool show);

// Converts "{8-4-4-4-12}" (IIDFromString) or "8-4-4-4-12" (UuidFromStringW) into `*guid`.
// Failure: false with the conversion's own result as the last error; null or empty text:
// a message and last error 87.
bool ParseUuid(const wchar_t* text, GUID* guid);

// --- Path rewriting, through the process-wide Util instance (UtilInstance.h) -------------

// Folder of the running executable; empty with last error 87 when its path is unknown.
std::wstring GetExeDir();

// Canonical form of `path`: "/" made "\", doubled backslashes from index 3 on made single,
// then the platform's canonicalisation. Empty on failure.
std::wstring CanonicalizeFileSpec(const wchar_t* path);

// The canonical form, always computed first; for a path that is not full and begins with "."
// or "\", the platform's full path of the path as given instead.
std::wstring ResolvePathName(const wchar_t* path);

// False only when `filePath` is full and its folder is empty or does not exist.
bool IsValidPathForFile(const wchar_t* filePath);
