#include "Util.h"

#include <objbase.h>
#include <rpc.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>

#include "Logger.h"
#include "ProcessSingleton.h"
#include "Queries.h"
#include "WinResources.h"

namespace {

constexpr size_t kLongPathThreshold = 260;
constexpr size_t kPrefixCompareLimit = 9;

size_t BoundedLength(const wchar_t* text, size_t limit) {
    size_t n = 0;
    if (text != nullptr) {
        while (n < limit && text[n] != L'\0') {
            ++n;
        }
    }
    return n;
}

bool IsNullOrEmpty(const wchar_t* path) {
    return path == nullptr || path[0] == L'\0';
}

}  // namespace

bool PrefixEqual(const wchar_t* text, const wchar_t* prefix) {
    const size_t a = BoundedLength(text, kPrefixCompareLimit);
    const size_t b = BoundedLength(prefix, kPrefixCompareLimit);
    const size_t n = a < b ? a : b;
    return n == 0 || std::wmemcmp(text, prefix, n) == 0;
}

bool IsFullPath(const wchar_t* path) {
    if (IsNullOrEmpty(path)) {
        return false;
    }
    if (path[1] != L'\0' && (PrefixEqual(path + 1, L":\\") || PrefixEqual(path + 1, L":/"))) {
        return true;
    }
    return PrefixEqual(path, L"\\\\");
}

namespace {

std::wstring ReportedExePath(ModuleFileNameFn moduleFileName) {
    const QueryAnswer path = ExecutablePath(moduleFileName);
    if (!path.succeeded) {
        LogReport(kLevelTrace, kUtilComponent, L"GetExePath failed. Err = %d",
                  static_cast<int>(path.error));
        SetLastError(path.error);
        return std::wstring();
    }
    return path.text;
}

}  // namespace

std::wstring GetExePath(bool logErrors) {
    if (!logErrors) {
        return ExecutablePathWithoutLogger(&GetModuleFileNameW, DebugOutputChannel::Real());
    }
    return ReportedExePath(&GetModuleFileNameW);
}

std::wstring GetCurrentDirectoryPath() {
    const QueryAnswer directory = CurrentDirectory();
    if (!directory.succeeded) {
        LogReport(kLevelTrace, kUtilComponent, L"GetCurrentDirectory failed. Err = %d",
                  static_cast<int>(directory.error));
        SetLastError(directory.error);
        return std::wstring();
    }
    return directory.text;
}

std::wstring GetNameFromPath(const wchar_t* path, bool stripExtension, bool logErrors) {
    if (!logErrors) {
        return NameFromPathWithoutLogger(path, stripExtension, DebugOutputChannel::Real());
    }
    if (IsNullOrEmpty(path)) {
        LogReport(kLevelTrace, kUtilComponent, L"%s", L"GetNameFromPath: null path specified");
        SetLastError(ERROR_INVALID_PARAMETER);
        return std::wstring();
    }
    return LastPathElement(path, stripExtension);
}

bool PathExists(const wchar_t* path) {
    if (IsNullOrEmpty(path)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    std::wstring query(path);
    if (query.size() >= kLongPathThreshold && !PrefixEqual(query.c_str(), L"\\\\")) {
        query.insert(0, L"\\\\?\\");
    }
    return GetFileAttributesW(query.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// --- File, environment, console and identifier utilities --------------------------------

bool FileCopy(const wchar_t* source, const wchar_t* destination) {
    if (IsNullOrEmpty(source)) {
        LogReport(kLevelTrace, kUtilComponent, L"%s", L"FileCopy: null from-path specified");
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    if (IsNullOrEmpty(destination)) {
        LogReport(kLevelTrace, kUtilComponent, L"%s", L"FileCopy: null to-path specified");
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    if (!CopyFileW(source, destination, FALSE)) {
        const DWORD code = GetLastError();
        LogReport(kLevelTrace, kUtilComponent, L"copy from %s to %s. Err = %d", source, destination,
                  static_cast<int>(code));
        SetLastError(code);
        return false;
    }
    return true;
}

bool DeleteFilePath(const wchar_t* path) {
    if (!PathExists(path)) {
        return true;
    }
    if (!DeleteFileW(path)) {
        const DWORD code = GetLastError();
        LogReport(kLevelTrace, kUtilComponent, L"DeleteFile failed. File = %s, Err = %d ", path,
                  static_cast<int>(code));
        SetLastError(code);
        return false;
    }
    return true;
}

std::wstring GetEnvVar(const wchar_t* name) {
    if (IsNullOrEmpty(name)) {
        LogReport(kLevelTrace, kUtilComponent, L"%s", L"Try to get env.var with null name");
        SetLastError(ERROR_INVALID_PARAMETER);
        return std::wstring();
    }
    const QueryAnswer value = EnvironmentVariable(name);
    if (value.succeeded) {
        // Also a variable that is defined but empty: no failure, and no stale code.
        SetLastError(0);
        return value.text;
    }
    if (value.error == ERROR_ENVVAR_NOT_FOUND) {
        SetLastError(value.error);
        return std::wstring();
    }
    LogReport(kLevelTrace, kUtilComponent, L"GetEnvironmentVariable failed. Err = %d",
              static_cast<int>(value.error));
    SetLastError(value.error);
    return value.text;
}

bool SetEnvVar(const wchar_t* name, const wchar_t* value) {
    if (IsNullOrEmpty(name)) {
        LogReport(kLevelTrace, kUtilComponent, L"%s", L"Try to set env.var with null name");
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (!SetEnvironmentVariableW(name, value)) {
        const DWORD code = GetLastError();
        LogReport(kLevelTrace, kUtilComponent, L"Try to set env.var %s=%s", name,
                  value != nullptr ? value : L"");
        LogReport(kLevelTrace, kUtilComponent, L"SetEnvironmentVariable failed. Err = %d",
                  static_cast<int>(code));
        SetLastError(code);
        return false;
    }
    return true;
}

void OpenConsole(bool show) {
    HWND window = GetConsoleWindow();
    if (show) {
        if (window != nullptr) {
            ShowWindow(window, SW_SHOW);
        } else {
            AllocConsole();
            // The results are not tested: a stream that cannot be reopened keeps its old
            // target, and the run goes on either way.
            (void)std::freopen("conin$", "r", stdin);
            (void)std::freopen("conout$", "w", stdout);
            (void)std::freopen("conout$", "w", stderr);
        }
    } else if (window != nullptr) {
        ShowWindow(window, SW_HIDE);
    }
}

bool ParseUuid(const wchar_t* text, GUID* guid) {
    if (IsNullOrEmpty(text)) {
        LogReport(kLevelTrace, kUtilComponent, L"%s", L"Unable to parse null UUID string.");
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    long result = 0;
    if (text[0] == L'{') {
        result = IIDFromString(text, guid);
    } else {
        result = UuidFromStringW(reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(text)), guid);
    }
    if (result != 0) {
        SetLastError(static_cast<DWORD>(result));
        return false;
    }
    return true;
}

// --- The Util instance and path rewriting ------------------------------------------------

namespace {

constexpr HRESULT kInsufficientBuffer = static_cast<HRESULT>(0x8007007A);
constexpr size_t kCanonicalSlack = 5;
constexpr size_t kCanonicalGrowthBound = 65536;
constexpr size_t kDoubledBackslashStart = 3;
constexpr size_t kValidPathCopyBound = 4096;
constexpr ULONG kAllowLongPaths = 1;

// Created by the first operation that needs the bindings; at exit the lock is deleted
// first, then the instance destroyed.
ProcessSingleton<Util> utilInstance;

}  // namespace

Util::Util(const UtilPlatform& given) : platform(given) {}

// The entry points go before the library they point into.
Util::~Util() {
    platform = UtilPlatform{};
    pathLibrary.Reset();
}

Util* Util::Instance() {
    Util* util = utilInstance.Get([] {
        Util* created = new Util();
        LogReport(kLevelTrace, kUtilComponent, L"Init Util library");
        created->pathLibrary.Reset(LoadLibraryW(L"api-ms-win-core-path-l1-1-0.dll"));
        if (created->pathLibrary) {
            created->platform.removeFileSpec = FunctionCast<PathCchRemoveFileSpecFn>(
                GetProcAddress(created->pathLibrary.Get(), "PathCchRemoveFileSpec"));
            created->platform.canonicalizeEx = FunctionCast<PathCchCanonicalizeExFn>(
                GetProcAddress(created->pathLibrary.Get(), "PathCchCanonicalizeEx"));
        } else {
            LogReport(kLevelInfo, kUtilComponent,
                      L"Cannot get address of PathCchRemoveFileSpec(). Use PathRemoveFileSpec() "
                      L"instead");
        }
        return created;
    });
    if (util == nullptr) {
        // Only for callers that run after the exit clean-up: no bindings, no lock.
        static Util* unbound = new Util(UtilPlatform{});
        return unbound;
    }
    return util;
}

bool Util::RemoveFileSpec(wchar_t* buffer, size_t capacity) {
    if (buffer == nullptr || buffer[0] == L'\0') {
        LogReport(kLevelTrace, kUtilComponent, L"%s", L"RemoveFileSpec: null path specified");
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (platform.removeFileSpec != nullptr) {
        const HRESULT answer = platform.removeFileSpec(buffer, capacity);
        if (answer != S_OK && answer != S_FALSE) {
            LogReport(kLevelTrace, kUtilComponent, L"RemoveFileSpec failed, err=%d, path=%s",
                      static_cast<int>(answer), buffer);
            SetLastError(static_cast<DWORD>(answer));
            return false;
        }
        return true;
    }
    if (capacity < kLongPathThreshold && !PrefixEqual(buffer, L"\\\\")) {
        if (!PathRemoveFileSpecW(buffer)) {
            const DWORD code = GetLastError();
            LogReport(kLevelTrace, kUtilComponent, L"RemoveFileSpec failed, err=%d, path=%s",
                      static_cast<int>(code), buffer);
            SetLastError(code);
            return false;
        }
        return true;
    }
    // Long paths and paths beginning with two backslashes (UNC, "\\?\"): the shell
    // function cannot take them, so strip at the last separator by hand.
    std::wstring text(buffer, BoundedLength(buffer, capacity));
    const size_t separator = text.find_last_of(L"\\/");
    if (separator != std::wstring::npos) {
        text.resize(separator);
    }
    const size_t keep = std::min(text.size(), capacity - 1);
    std::wmemcpy(buffer, text.c_str(), keep);
    buffer[keep] = L'\0';
    buffer[capacity - 1] = L'\0';
    return true;
}

std::wstring Util::GetExeDir() {
    std::wstring buffer = ReportedExePath(platform.moduleFileName);
    const size_t capacity = buffer.size() + 1;
    buffer.push_back(L'\0');
    RemoveFileSpec(buffer.data(), capacity);
    return std::wstring(buffer.c_str());
}

std::wstring Util::CanonicalizeFileSpec(const wchar_t* path) {
    if (IsNullOrEmpty(path)) {
        LogReport(kLevelTrace, kUtilComponent, L"%s", L"CanonicalizeFileSpec: null path specified");
        SetLastError(ERROR_INVALID_PARAMETER);
        return std::wstring();
    }
    std::wstring working(path);
    std::replace(working.begin(), working.end(), L'/', L'\\');
    if (working.size() >= kDoubledBackslashStart) {
        for (size_t at = kDoubledBackslashStart;
             (at = working.find(L"\\\\", at)) != std::wstring::npos; ++at) {
            working.erase(at, 1);
        }
    }

    size_t size = std::max(working.size(), kLongPathThreshold) + kCanonicalSlack;
    std::wstring output(size, L'\0');
    bool ok = false;
    DWORD code = 0;
    if (platform.canonicalizeEx != nullptr) {
        for (;;) {
            const HRESULT answer =
                platform.canonicalizeEx(output.data(), size, working.c_str(), kAllowLongPaths);
            size *= 2;
            if (answer == kInsufficientBuffer && size < kCanonicalGrowthBound) {
                output.assign(size, L'\0');
                continue;
            }
            ok = answer == S_OK;
            code = static_cast<DWORD>(answer);
            break;
        }
    } else {
        if (working.size() >= kLongPathThreshold && PrefixEqual(working.c_str(), L"\\\\")) {
            LogReport(kLevelTrace, kUtilComponent, L"PathCanonicalize skipped for long path");
            SetLastError(0);
            return working;
        }
        ok = PathCanonicalizeW(output.data(), working.c_str()) != FALSE;
        if (!ok) {
            code = GetLastError();
        }
    }
    if (!ok) {
        LogReport(kLevelTrace, kUtilComponent, L"CanonicalizeFileSpec failed, err=%d, path=%s",
                  static_cast<int>(code), path);
        SetLastError(code);
        return std::wstring();
    }
    return std::wstring(output.c_str());
}

std::wstring Util::ResolvePathName(const wchar_t* path) {
    if (IsNullOrEmpty(path)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return std::wstring();
    }
    std::wstring canonical = CanonicalizeFileSpec(path);
    if (IsFullPath(path) || (path[0] != L'.' && path[0] != L'\\')) {
        return canonical;
    }
    const QueryAnswer full = FullPathName(path);
    if (full.succeeded) {
        return full.text;
    }
    LogReport(kLevelTrace, kUtilComponent, L"in = %s", path);
    LogReport(kLevelTrace, kUtilComponent, L"out = %s", full.text.c_str());
    LogReport(kLevelTrace, kUtilComponent, L"ResolvePathName: GetFullPathName failed. Err = %d",
              static_cast<int>(full.error));
    SetLastError(full.error);
    return std::wstring();
}

bool Util::IsValidPathForFile(const wchar_t* filePath) {
    if (IsNullOrEmpty(filePath)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return true;
    }
    // The whole path is checked, however long: a cut path would test the wrong folder.
    std::wstring buffer(filePath);
    const size_t capacity = std::max(buffer.size(), kValidPathCopyBound) + 1;
    buffer.resize(capacity, L'\0');
    if (!IsFullPath(filePath)) {
        SetLastError(0);
        return true;
    }
    RemoveFileSpec(buffer.data(), capacity);
    if (buffer[0] == L'\0' || !PathExists(buffer.c_str())) {
        LogReport(kLevelTrace, kUtilComponent, L"invalid path for file = %s", filePath);
        return false;
    }
    return true;
}

std::wstring GetExeDir() {
    return Util::Instance()->GetExeDir();
}
std::wstring CanonicalizeFileSpec(const wchar_t* path) {
    return Util::Instance()->CanonicalizeFileSpec(path);
}
std::wstring ResolvePathName(const wchar_t* path) {
    return Util::Instance()->ResolvePathName(path);
}
bool IsValidPathForFile(const wchar_t* filePath) {
    return Util::Instance()->IsValidPathForFile(filePath);
}
