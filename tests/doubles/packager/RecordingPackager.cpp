// The recording test double of KQPackager.dll. Its behaviour comes from the script file
// named by DP_PACKAGER_SCRIPT (see ScriptedPackager.cpp for the keys); every call and every
// field it receives is appended to the file named by DP_PACKAGER_RECORD, one line each.
// Built with DP_NO_CREATE_EXPORT it lacks its export, for the binding tests.
#include <windows.h>

#include <string>

#include "ScriptedPackager.h"
#include "WinResources.h"

namespace {

std::wstring Variable(const wchar_t* name) {
    wchar_t value[4096];
    const DWORD n = GetEnvironmentVariableW(name, value, 4096);
    return n > 0 && n < 4096 ? std::wstring(value) : std::wstring();
}

[[maybe_unused]] std::string ReadAll(const std::wstring& path) {
    std::string text;
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    char chunk[4096];
    DWORD got = 0;
    while (file && ReadFile(file.Get(), chunk, sizeof(chunk), &got, nullptr) && got > 0) {
        text.append(chunk, got);
    }
    return text;
}

[[maybe_unused]] void Record(const std::string& line) {
    const std::wstring path = Variable(L"DP_PACKAGER_RECORD");
    if (path.empty()) {
        return;
    }
    const UniqueFile file(CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    const std::string text = line + "\n";
    DWORD written = 0;
    if (file) {
        WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
}

}  // namespace

#ifndef DP_NO_CREATE_EXPORT
extern "C" __declspec(dllexport) HRESULT
    __stdcall CreatePackager(const IID* iid, IPackager** packager) {
    static const PackagerScript script =
        PackagerScript::Parse(ReadAll(Variable(L"DP_PACKAGER_SCRIPT")));
    return ScriptedPackager::Create(script, &Record, iid, packager);
}
#else
extern "C" __declspec(dllexport) HRESULT __stdcall CreatePackagerMissing() {
    return E_NOTIMPL;
}
#endif
