#include "UtilInstance.h"

#include <shlwapi.h>

#include <algorithm>
#include <cwchar>

#include "Logger.h"
#include "ProcessSingleton.h"
#include "Util.h"
#include "UtilCommon.h"

namespace {

constexpr HRESULT kInsufficientBuffer = static_cast<HRESULT>(0x8007007A);
constexpr size_t kCanonicalSlack = 5;
constexpr size_t kCanonicalGrowthBound = 65536;
constexpr size_t kDoubledBackslashStart = 3;
constexpr size_t kValidPathCopyBound = 4096;
constexpr ULONG kAllowLongPaths = 1;

// The process-wide instance with its platform.
struct ProcessUtil {
    RealUtilPlatform platform{true};
    Util util{platform};
};

// Created by the first operation that needs the bindings; at exit the lock is deleted
// first, then the instance destroyed.
ProcessSingleton<ProcessUtil> processUtil;

}  // namespace

RealUtilPlatform::RealUtilPlatform(bool bindPathLibrary) {
    if (!bindPathLibrary) {
        return;
    }
    library.Reset(LoadLibraryW(L"api-ms-win-core-path-l1-1-0.dll"));
    if (library) {
        removeFileSpec =
            FunctionCast<RemoveFileSpecFn>(GetProcAddress(library.Get(), "PathCchRemoveFileSpec"));
        canonicalizeEx =
            FunctionCast<CanonicalizeExFn>(GetProcAddress(library.Get(), "PathCchCanonicalizeEx"));
    }
}

// The entry points go before the library they point into.
RealUtilPlatform::~RealUtilPlatform() {
    removeFileSpec = nullptr;
    canonicalizeEx = nullptr;
    library.Reset();
}

DWORD RealUtilPlatform::Fill(wchar_t* buffer, DWORD capacity) {
    return GetModuleFileNameW(nullptr, buffer, capacity);
}

HRESULT RealUtilPlatform::RemoveFileSpec(PWSTR path, size_t capacity) {
    return removeFileSpec(path, capacity);
}

HRESULT RealUtilPlatform::CanonicalizeEx(PWSTR out, size_t capacity, PCWSTR in, ULONG flags) {
    return canonicalizeEx(out, capacity, in, flags);
}

Util* Util::Instance() {
    ProcessUtil* created = processUtil.Get([] {
        LogReport(kLevelTrace, kUtilComponent, L"Init Util library");
        auto* made = new ProcessUtil();
        if (!made->platform.Loaded()) {
            LogReport(kLevelInfo, kUtilComponent,
                      L"Cannot get address of PathCchRemoveFileSpec(). Use PathRemoveFileSpec() "
                      L"instead");
        }
        return made;
    });
    if (created == nullptr) {
        // Only for callers that run after the exit clean-up: no bindings, no lock. Never
        // destroyed, so that it outlives them.
        static auto* unbound = new Util(*new RealUtilPlatform(false));
        return unbound;
    }
    return &created->util;
}

bool Util::RemoveFileSpec(wchar_t* buffer, size_t capacity) {
    if (buffer == nullptr || buffer[0] == L'\0') {
        LogReport(kLevelTrace, kUtilComponent, L"%s", L"RemoveFileSpec: null path specified");
        return WithLastError(ERROR_INVALID_PARAMETER, false);
    }
    if (platform.HasRemoveFileSpec()) {
        const HRESULT answer = platform.RemoveFileSpec(buffer, capacity);
        if (answer != S_OK && answer != S_FALSE) {
            LogReport(kLevelTrace, kUtilComponent, L"RemoveFileSpec failed, err=%d, path=%s",
                      static_cast<int>(answer), buffer);
            return WithLastError(static_cast<DWORD>(answer), false);
        }
        return true;
    }
    if (capacity < kLongPathThreshold && !PrefixEqual(buffer, L"\\\\")) {
        if (!PathRemoveFileSpecW(buffer)) {
            const DWORD code = GetLastError();
            LogReport(kLevelTrace, kUtilComponent, L"RemoveFileSpec failed, err=%d, path=%s",
                      static_cast<int>(code), buffer);
            return WithLastError(code, false);
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
    std::wstring buffer = ReportedExePath(platform);
    const size_t capacity = buffer.size() + 1;
    buffer.push_back(L'\0');
    RemoveFileSpec(buffer.data(), capacity);
    return std::wstring(buffer.c_str());
}

std::wstring Util::CanonicalizeFileSpec(const wchar_t* path) {
    if (IsNullOrEmpty(path)) {
        LogReport(kLevelTrace, kUtilComponent, L"%s", L"CanonicalizeFileSpec: null path specified");
        return WithLastError(ERROR_INVALID_PARAMETER, std::wstring());
    }
    std::wstring working(path);
    std::replace(working.begin(), working.end(), L'/', L'\\');
    if (working.size() >= kDoubledBackslashStart) {
        for (size_t at = kDoubledBackslashStart;
             (at = working.find(L"\\\\", at)) != std::wstring::npos; ++at) {
            working.erase(at, 1);
        }
    }
    if (!platform.HasCanonicalizeEx() && working.size() >= kLongPathThreshold &&
        PrefixEqual(working.c_str(), L"\\\\")) {
        LogReport(kLevelTrace, kUtilComponent, L"PathCanonicalize skipped for long path");
        return WithLastError(0, working);
    }
    DWORD code = 0;
    bool ok = false;
    const std::wstring canonical = Canonicalize(working, &code, &ok);
    if (!ok) {
        LogReport(kLevelTrace, kUtilComponent, L"CanonicalizeFileSpec failed, err=%d, path=%s",
                  static_cast<int>(code), path);
        return WithLastError(code, std::wstring());
    }
    return canonical;
}

// PathCchCanonicalizeEx, its buffer doubled while it answers "insufficient buffer" (below
// 65536 characters), or PathCanonicalizeW.
std::wstring Util::Canonicalize(const std::wstring& working, DWORD* code, bool* ok) {
    size_t size = std::max(working.size(), kLongPathThreshold) + kCanonicalSlack;
    std::wstring output(size, L'\0');
    if (!platform.HasCanonicalizeEx()) {
        *ok = PathCanonicalizeW(output.data(), working.c_str()) != FALSE;
        *code = *ok ? 0 : GetLastError();
        return std::wstring(output.c_str());
    }
    for (;;) {
        const HRESULT answer =
            platform.CanonicalizeEx(output.data(), size, working.c_str(), kAllowLongPaths);
        size *= 2;
        if (answer == kInsufficientBuffer && size < kCanonicalGrowthBound) {
            output.assign(size, L'\0');
            continue;
        }
        *ok = answer == S_OK;
        *code = static_cast<DWORD>(answer);
        return std::wstring(output.c_str());
    }
}

std::wstring Util::ResolvePathName(const wchar_t* path) {
    if (IsNullOrEmpty(path)) {
        return WithLastError(ERROR_INVALID_PARAMETER, std::wstring());
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
    return WithLastError(full.error, std::wstring());
}

bool Util::IsValidPathForFile(const wchar_t* filePath) {
    if (IsNullOrEmpty(filePath)) {
        return WithLastError(ERROR_INVALID_PARAMETER, true);
    }
    // The whole path is checked, however long: a cut path would test the wrong folder.
    std::wstring buffer(filePath);
    const size_t capacity = std::max(buffer.size(), kValidPathCopyBound) + 1;
    buffer.resize(capacity, L'\0');
    if (!IsFullPath(filePath)) {
        return WithLastError(0, true);
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
