#include "OpenedFile.h"

#include "WinResources.h"

bool FactsOf(HANDLE file, HandleFacts* facts, DWORD* error) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) {
        *error = GetLastError();
        return false;
    }
    facts->identity.volume = info.dwVolumeSerialNumber;
    facts->identity.index = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    facts->attributes = info.dwFileAttributes;
    facts->links = info.nNumberOfLinks;
    return true;
}

QueryAnswer FinalPathOf(HANDLE file) {
    return FillText([file](wchar_t* buffer, DWORD capacity) {
        return GetFinalPathNameByHandleW(file, buffer, capacity,
                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    });
}

QueryAnswer FinalFolderPath(const std::wstring& path) {
    // Backup semantics: the only way to open a folder; no access is needed to ask its path.
    const UniqueFile folder(CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder) {
        QueryAnswer failed;
        failed.error = GetLastError();
        return failed;
    }
    return FinalPathOf(folder.Get());
}

bool SamePathText(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool LiesUnder(const std::wstring& path, const std::wstring& folder) {
    const std::wstring prefix = InFolder(folder, L"");
    return path.size() > prefix.size() &&
           SamePathText(std::wstring_view(path).substr(0, prefix.size()), prefix);
}
