#include "TemporaryPackage.h"

#include <cstdio>
#include <cwctype>
#include <vector>

#include "BusyRetry.h"
#include "OpenedFile.h"
#include "Queries.h"

namespace {

// kqp, one to four hex digits, .tmp: the names this library (and GetTempFileNameW with the
// same prefix) gives temporary packages, and nothing else.
bool IsTemporaryName(const std::wstring& name) {
    if (name.size() < 8 || name.size() > 11) {
        return false;
    }
    const size_t digits = name.size() - 7;
    if (_wcsnicmp(name.c_str(), L"kqp", 3) != 0 ||
        _wcsicmp(name.c_str() + 3 + digits, L".tmp") != 0) {
        return false;
    }
    for (size_t i = 3; i < 3 + digits; ++i) {
        if (!std::iswxdigit(name[i])) {
            return false;
        }
    }
    return true;
}

// Renames the open file by its handle: it is never closed, so never unguarded, before it has
// its final name.
DWORD RenameOpenFile(HANDLE file, const std::wstring& target) {
    const size_t bytes = target.size() * sizeof(wchar_t);
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + bytes, '\0');
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(bytes);
    target.copy(info->FileName, target.size());
    if (!SetFileInformationByHandle(file, FileRenameInfo, info,
                                    static_cast<DWORD>(buffer.size()))) {
        return GetLastError();
    }
    return 0;
}

}  // namespace

int TemporaryPackage::SweepStale(const std::wstring& folder) {
    std::vector<std::wstring> candidates;
    WIN32_FIND_DATAW data;
    const UniqueFind find(FindFirstFileW(InFolder(folder, L"kqp*.tmp").c_str(), &data));
    if (!find) {
        return 0;
    }
    do {
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
            IsTemporaryName(data.cFileName)) {
            candidates.push_back(InFolder(folder, data.cFileName));
        }
    } while (FindNextFileW(find.Get(), &data));
    int removed = 0;
    for (const std::wstring& candidate : candidates) {
        // A live run's file cannot be opened at all; a stale one goes when this handle closes.
        const UniqueFile stale(CreateFileW(
            candidate.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        removed += stale ? 1 : 0;
    }
    return removed;
}

DWORD TemporaryPackage::Create(const std::wstring& folder) {
    const DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 4) ^ GetCurrentThreadId();
    return CreateFrom(folder, static_cast<uint16_t>(seed));
}

DWORD TemporaryPackage::CreateFrom(const std::wstring& folder, uint16_t seed) {
    Discard(true);
    // The same four hex digits as GetTempFileNameW, but the name is taken and opened in one
    // call (CREATE_NEW): between the two no sweep can see an unheld file.
    int refused = 0;  // a name being deleted is refused for a moment; a read-only folder always
    for (DWORD i = 0; i < 0x10000; ++i) {
        wchar_t name[16];
        std::swprintf(name, 16, L"kqp%04X.tmp", static_cast<unsigned>((seed + i) & 0xFFFF));
        const std::wstring candidate = InFolder(folder, name);
        // Read access too: an entry that turns out to shrink is rewritten in place.
        file.Reset(CreateFileW(candidate.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            path = candidate;
            return 0;
        }
        const DWORD error = GetLastError();
        const bool taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
        const bool busy = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
        if (!taken && !(busy && ++refused < 8)) {
            return error;
        }
    }
    return ERROR_FILE_EXISTS;
}

DWORD TemporaryPackage::RenameOver(const std::wstring& target) {
    // The new name must not depend on the current folder, which the rename does not see.
    const QueryAnswer full = FullPathName(target.c_str());
    if (!full.succeeded) {
        return full.error;
    }
    const DWORD error = RetryWhileBusy([&] { return RenameOpenFile(file.Get(), full.text); });
    if (error == 0) {
        file.Reset();
        path.clear();
    }
    return error;
}

void TemporaryPackage::Discard(bool remove) {
    if (!file) {
        return;
    }
    if (remove) {
        FILE_DISPOSITION_INFO disposition{TRUE};
        SetFileInformationByHandle(file.Get(), FileDispositionInfo, &disposition,
                                   sizeof(disposition));
    }
    file.Reset();
    path.clear();
}
