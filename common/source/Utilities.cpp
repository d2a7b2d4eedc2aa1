// The file, environment, console and identifier utilities of the Util module.
#include <objbase.h>
#include <rpc.h>

#include <cstdio>
#include <string>

#include "Logger.h"
#include "Queries.h"
#include "Util.h"
#include "UtilCommon.h"

bool FileCopy(const wchar_t* source, const wchar_t* destination) {
    if (IsNullOrEmpty(source)) {
        LogReport(kLevelTrace, kUtilComponent, L"%s", L"FileCopy: null from-path specified");
        return WithLastError(ERROR_ACCESS_DENIED, false);
    }
    if (IsNullOrEmpty(destination)) {
        LogReport(kLevelTrace, kUtilComponent, L"%s", L"FileCopy: null to-path specified");
        return WithLastError(ERROR_ACCESS_DENIED, false);
    }
    if (!CopyFileW(source, destination, FALSE)) {
        const DWORD code = GetLastError();
        LogReport(kLevelTrace, kUtilComponent, L"copy from %s to %s. Err = %d", source, destination,
                  static_cast<int>(code));
        return WithLastError(code, false);
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
        return WithLastError(code, false);
    }
    return true;
}

std::wstring GetEnvVar(const wchar_t* name) {
    if (IsNullOrEmpty(name)) {
        LogReport(kLevelTrace, kUtilComponent, L"%s", L"Try to get env.var with null name");
        return WithLastError(ERROR_INVALID_PARAMETER, std::wstring());
    }
    const QueryAnswer value = EnvironmentVariable(name);
    if (value.succeeded) {
        // Also a variable that is defined but empty: no failure, and no stale code.
        SetLastError(0);
        return value.text;
    }
    if (value.error == ERROR_ENVVAR_NOT_FOUND) {
        return WithLastError(value.error, std::wstring());
    }
    LogReport(kLevelTrace, kUtilComponent, L"GetEnvironmentVariable failed. Err = %d",
              static_cast<int>(value.error));
    return WithLastError(value.error, value.text);
}

bool SetEnvVar(const wchar_t* name, const wchar_t* value) {
    if (IsNullOrEmpty(name)) {
        LogReport(kLevelTrace, kUtilComponent, L"%s", L"Try to set env.var with null name");
        return WithLastError(ERROR_INVALID_PARAMETER, false);
    }
    if (!SetEnvironmentVariableW(name, value)) {
        const DWORD code = GetLastError();
        LogReport(kLevelTrace, kUtilComponent, L"Try to set env.var %s=%s", name,
                  value != nullptr ? value : L"");
        LogReport(kLevelTrace, kUtilComponent, L"SetEnvironmentVariable failed. Err = %d",
                  static_cast<int>(code));
        return WithLastError(code, false);
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
        return WithLastError(ERROR_INVALID_PARAMETER, false);
    }
    long result = 0;
    if (text[0] == L'{') {
        result = IIDFromString(text, guid);
    } else {
        result = UuidFromStringW(reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(text)), guid);
    }
    return result == 0 || WithLastError(static_cast<DWORD>(result), false);
}
