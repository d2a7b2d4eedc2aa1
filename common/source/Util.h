#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "Queries.h"
#include "WinResources.h"

// The Util module: path, file, environment, console and identifier operations.
//
// Conventions shared by every operation: a failure is reported first by a message through
// LogReport under the component "Util class" (level 8 unless noted), then by the thread's
// last-error code, then by the result (false or an empty string). Nothing throws. Path
// arguments may be null; "null or empty" means a null pointer or an empty string.

inline constexpr const wchar_t* kUtilComponent = L"Util class";

// --- Path queries (never create the Util instance) --------------------------------------

// Full path of the running executable; empty on failure (last error: the code of the
// failing call, 122 when the path needs more than 4159 characters). The buffer grows in
// steps of 260 characters up to 4160. With `logErrors` false the failure goes to the
// debugger output only, never through the logger (the logger itself calls it that way).
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

// --- The Util instance and path rewriting ------------------------------------------------

using PathCchRemoveFileSpecFn = HRESULT(WINAPI*)(PWSTR path, size_t capacity);
using PathCchCanonicalizeExFn = HRESULT(WINAPI*)(PWSTR out, size_t capacity, PCWSTR in,
                                                 ULONG flags);

// The platform calls the Util instance makes: the entry points of
// api-ms-win-core-path-l1-1-0.dll, each null one sending its own operation to the older
// shell fallback, and the executable's file name.
struct UtilPlatform {
    PathCchRemoveFileSpecFn removeFileSpec = nullptr;
    PathCchCanonicalizeExFn canonicalizeEx = nullptr;
    ModuleFileNameFn moduleFileName = &GetModuleFileNameW;
};

// The process-wide binding of the newer path functions, created on first use (reporting
// "Init Util library") and destroyed at process exit. Its bindings never change after
// creation, so its operations read them without a lock.
class Util {
  public:
    static Util* Instance();

    // An instance on the given platform, without a path library of its own (tests).
    explicit Util(const UtilPlatform& platform);
    ~Util();
    Util(const Util&) = delete;
    Util& operator=(const Util&) = delete;

    const UtilPlatform& Platform() const { return platform; }

    // Removes the last element of the path in `buffer` (of `capacity` characters, terminator
    // included) in place. Uses PathCchRemoveFileSpec when bound; else PathRemoveFileSpecW
    // below 260 characters of capacity for paths not starting with "\\"; else strips at the
    // last "\" or "/" by hand. False when the platform call reports a failure.
    bool RemoveFileSpec(wchar_t* buffer, size_t capacity);

    // Canonical form of `path`: "/" made "\", doubled backslashes from index 3 on made
    // single, then PathCchCanonicalizeEx (growing its buffer on 0x8007007A) or
    // PathCanonicalizeW. Empty on failure.
    std::wstring CanonicalizeFileSpec(const wchar_t* path);

    // Folder of the running executable; empty with last error 87 when its path is unknown.
    std::wstring GetExeDir();

    // The canonical form, always computed first; for a path that is not full and begins
    // with "." or "\", the platform's full path of the path as given instead.
    std::wstring ResolvePathName(const wchar_t* path);

    // False only when `filePath` is full and its folder is empty or does not exist.
    bool IsValidPathForFile(const wchar_t* filePath);

  private:
    Util() = default;

    UtilPlatform platform;
    UniqueModule pathLibrary;
};

// The free forms, each through Util::Instance().
std::wstring GetExeDir();
std::wstring CanonicalizeFileSpec(const wchar_t* path);
std::wstring ResolvePathName(const wchar_t* path);
bool IsValidPathForFile(const wchar_t* filePath);
