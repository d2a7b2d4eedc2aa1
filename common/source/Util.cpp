#include "Util.h"

#include "Logger.h"

#include <cwchar>
#include <string>

namespace {

constexpr DWORD kExePathGrowth = 260;
constexpr DWORD kExePathLastGrowableSize = 4096;
constexpr size_t kLongPathThreshold = 260;
constexpr size_t kPrefixCompareLimit = 9;
constexpr const char* kUtilSourceFile = "common/source/Util.cpp: ";

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

std::wstring TextOf(const std::wstring& buffer) {
    return std::wstring(buffer.c_str());
}

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

std::wstring GetExePath(bool logErrors) {
    return GetExePath(logErrors, &GetModuleFileNameW);
}

std::wstring GetExePath(bool logErrors, ModuleFileNameFn moduleFileName) {
    std::wstring buffer;
    DWORD size = 0;
    DWORD code = 0;
    for (;;) {
        size += kExePathGrowth;
        buffer.resize(size, L'\0');
        const DWORD answer = moduleFileName(nullptr, buffer.data(), size);
        if (answer == 0) {
            code = GetLastError();
            break;
        }
        if (answer < size) {
            return TextOf(buffer);
        }
        if (size >= kExePathLastGrowableSize) {
            code = GetLastError();
            break;
        }
    }
    if (logErrors) {
        LogReport(kLevelTrace, kUtilComponent, L"GetExePath failed. Err = %d",
                  static_cast<int>(code));
    } else {
        const std::string line = std::string(kUtilSourceFile) +
                                 "GetExePath failed. Err = " + std::to_string(code) + "\n";
        DebugOutputNarrow(line.c_str());
    }
    SetLastError(code);
    return std::wstring();
}

std::wstring GetCurrentDirectoryPath() {
    std::wstring buffer;
    const DWORD answer =
        QueryIntoBuffer([](wchar_t* b, DWORD n) { return GetCurrentDirectoryW(n, b); }, buffer);
    if (answer == 0) {
        const DWORD code = GetLastError();
        LogReport(kLevelTrace, kUtilComponent, L"GetCurrentDirectory failed. Err = %d",
                  static_cast<int>(code));
        buffer.clear();
        SetLastError(code);
    }
    return TextOf(buffer);
}

std::wstring GetNameFromPath(const wchar_t* path, bool stripExtension, bool logErrors) {
    if (IsNullOrEmpty(path)) {
        if (logErrors) {
            LogReport(kLevelTrace, kUtilComponent, L"%s", L"GetNameFromPath: null path specified");
        } else {
            DebugOutput(L"GetNameFromPath: null path specified");
        }
        SetLastError(ERROR_INVALID_PARAMETER);
        return std::wstring();
    }
    const std::wstring whole(path);
    const size_t separator = whole.find_last_of(L"\\/");
    std::wstring name = separator == std::wstring::npos ? whole : whole.substr(separator + 1);
    if (stripExtension) {
        const size_t dot = name.rfind(L'.');
        if (dot != std::wstring::npos) {
            name.resize(dot);
        }
    }
    return name;
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
