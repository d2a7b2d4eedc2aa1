#pragma once

// What the Util module's tests share: a Util platform of the test's own.

#include <windows.h>

#include <cwchar>
#include <functional>
#include <string>
#include <vector>

#include "UtilInstance.h"

// A Util platform of the test's own. The program's path: the real one, or one of `played`
// characters (the sizes the queries ask for recorded), or a failure with `pathError`. The path
// library's entries: missing unless given.
class TestUtilPlatform : public UtilPlatform {
  public:
    size_t played = 0;
    DWORD pathError = 0;
    std::vector<DWORD> sizesAsked;
    std::function<HRESULT(PWSTR, size_t)> removeFileSpec;
    std::function<HRESULT(PWSTR, size_t, PCWSTR, ULONG)> canonicalizeEx;

    DWORD Fill(wchar_t* buffer, DWORD size) override {
        sizesAsked.push_back(size);
        if (pathError != 0) {
            SetLastError(pathError);
            return 0;
        }
        if (played == 0) {
            return GetModuleFileNameW(nullptr, buffer, size);
        }
        const std::wstring path = L"C:\\" + std::wstring(played - 9, L'd') + L"\\a.exe";
        if (path.size() < size) {
            wcscpy(buffer, path.c_str());
            SetLastError(0);
            return static_cast<DWORD>(path.size());
        }
        wmemcpy(buffer, path.c_str(), size - 1);
        buffer[size - 1] = L'\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    bool HasRemoveFileSpec() const override { return static_cast<bool>(removeFileSpec); }
    HRESULT RemoveFileSpec(PWSTR path, size_t capacity) override {
        return removeFileSpec(path, capacity);
    }
    bool HasCanonicalizeEx() const override { return static_cast<bool>(canonicalizeEx); }
    HRESULT CanonicalizeEx(PWSTR out, size_t capacity, PCWSTR in, ULONG flags) override {
        return canonicalizeEx(out, capacity, in, flags);
    }
};
