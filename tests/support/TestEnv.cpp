#include "TestEnv.h"

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include "Queries.h"
#include "WinResources.h"

std::wstring BinDir() {
    RealModuleFileName source;
    const std::wstring exe = ExecutablePath(source).text;
    return exe.substr(0, exe.find_last_of(L"\\/"));
}

std::wstring BinPath(const std::wstring& name) {
    return BinDir() + L"\\" + name;
}

TempDir::TempDir() {
    wchar_t base[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, base);
    static LONG counter = 0;
    for (;;) {
        path = std::wstring(base) + L"dp-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
               std::to_wstring(InterlockedIncrement(&counter)) + L"-" +
               std::to_wstring(GetTickCount64());
        if (CreateDirectoryW(path.c_str(), nullptr)) {
            break;
        }
    }
}

TempDir::~TempDir() {
    RemoveTree(path);
}

bool RemoveTree(const std::wstring& path) {
    const std::wstring full = path.rfind(L"\\\\", 0) == 0 ? path : L"\\\\?\\" + path;
    WIN32_FIND_DATAW data;
    UniqueFind find(FindFirstFileW((full + L"\\*").c_str(), &data));
    if (find) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring child = path + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                const std::wstring longChild = L"\\\\?\\" + child;
                SetFileAttributesW(longChild.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(longChild.c_str());
            }
        } while (FindNextFileW(find.Get(), &data));
    }
    SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(full.c_str());
    return GetFileAttributesW(full.c_str()) == INVALID_FILE_ATTRIBUTES;
}

bool WriteTextFile(const std::wstring& path, const std::string& content) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file &&
           WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &written,
                     nullptr) &&
           written == content.size();
}

std::string ReadTextFile(const std::wstring& path) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string content;
    char chunk[65536];
    DWORD got = 0;
    while (file && ReadFile(file.Get(), chunk, sizeof(chunk), &got, nullptr) && got > 0) {
        content.append(chunk, got);
    }
    return content;
}

std::wstring InstalledEventLibrary::TargetPath() {
    wchar_t* folder = nullptr;
    const HRESULT found = SHGetKnownFolderPath(FOLDERID_ProgramFilesCommon, 0, nullptr, &folder);
    const UniqueCoTaskMemory owned(folder);
    return SUCCEEDED(found) ? std::wstring(folder) + L"\\Quorvel\\ZelNSEvent.dll" : std::wstring();
}

InstalledEventLibrary::InstalledEventLibrary(const std::wstring& sourceDll) {
    const std::wstring target = TargetPath();
    const std::wstring folder = target.substr(0, target.find_last_of(L'\\'));
    CreateDirectoryW(folder.c_str(), nullptr);
    installed = !target.empty() && CopyFileW(sourceDll.c_str(), target.c_str(), FALSE);
}

InstalledEventLibrary::~InstalledEventLibrary() {
    EnsureAbsent();
}

bool InstalledEventLibrary::EnsureAbsent() {
    const std::wstring target = TargetPath();
    DeleteFileW(target.c_str());
    RemoveDirectoryW(target.substr(0, target.find_last_of(L'\\')).c_str());
    return GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES;
}
