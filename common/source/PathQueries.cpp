// The path queries of the Util module: none creates the Util instance.
#include <cwchar>
#include <string>

#include "Logger.h"
#include "Queries.h"
#include "Util.h"
#include "UtilCommon.h"

namespace {

constexpr size_t kPrefixCompareLimit = 9;

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

std::wstring GetExePath(bool logErrors) {
    RealModuleFileName source;
    if (!logErrors) {
        RealDebugOutput debugOutput;
        return ExecutablePathWithoutLogger(source, debugOutput);
    }
    return ReportedExePath(source);
}

std::wstring ReportedExePath(ModuleFileName& source) {
    const QueryAnswer path = ExecutablePath(source);
    if (!path.succeeded) {
        LogReport(kLevelTrace, kUtilComponent, L"GetExePath failed. Err = %d",
                  static_cast<int>(path.error));
        return WithLastError(path.error, std::wstring());
    }
    return path.text;
}

std::wstring GetCurrentDirectoryPath() {
    const QueryAnswer directory = CurrentDirectory();
    if (!directory.succeeded) {
        LogReport(kLevelTrace, kUtilComponent, L"GetCurrentDirectory failed. Err = %d",
                  static_cast<int>(directory.error));
        return WithLastError(directory.error, std::wstring());
    }
    return directory.text;
}

std::wstring GetNameFromPath(const wchar_t* path, bool stripExtension, bool logErrors) {
    if (!logErrors) {
        RealDebugOutput debugOutput;
        return NameFromPathWithoutLogger(path, stripExtension, debugOutput);
    }
    if (IsNullOrEmpty(path)) {
        LogReport(kLevelTrace, kUtilComponent, L"%s", L"GetNameFromPath: null path specified");
        return WithLastError(ERROR_INVALID_PARAMETER, std::wstring());
    }
    return LastPathElement(path, stripExtension);
}

bool PathExists(const wchar_t* path) {
    if (IsNullOrEmpty(path)) {
        return WithLastError(ERROR_INVALID_PARAMETER, false);
    }
    std::wstring query(path);
    if (query.size() >= kLongPathThreshold && !PrefixEqual(query.c_str(), L"\\\\")) {
        query.insert(0, L"\\\\?\\");
    }
    return GetFileAttributesW(query.c_str()) != INVALID_FILE_ATTRIBUTES;
}
