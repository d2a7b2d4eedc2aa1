#include "PackagerLog.h"

#include <cstdio>

#include "BusyRetry.h"
#include "Manifest.h"
#include "OpenedFile.h"
#include "Queries.h"
#include "WinResources.h"

namespace {

constexpr DWORD kStoppedOnLink = 681;  // ERROR_STOPPED_ON_SYMLINK, which MinGW's headers lack

// True when the open `file` is the file `path` names itself, not one a link there leads to.
// Where the platform opens the link itself, its attribute shows; where it follows host links
// regardless (Wine), the final path shows where the file really is.
bool IsFileAsked(HANDLE file, const std::wstring& path) {
    HandleFacts facts;
    DWORD error = 0;
    if (!FactsOf(file, &facts, &error) || (facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        facts.links != 1) {
        return false;
    }
    const QueryAnswer full = FullPathName(path.c_str());
    if (!full.succeeded) {
        return false;
    }
    const FolderAndName asked = SplitPath(full.text);
    const QueryAnswer folder = FinalFolderPath(asked.folder);
    const QueryAnswer final = FinalPathOf(file);
    if (!folder.succeeded || !final.succeeded) {
        return false;
    }
    return SamePathText(final.text, InFolder(folder.text, asked.name));
}

// Opens the log to append to it. Never OPEN_ALWAYS: through a dangling link that would create
// a file wherever the link points; CREATE_NEW creates nothing through a link.
DWORD OpenLog(const std::wstring& path, UniqueFile* file) {
    const auto open = [&](DWORD disposition) -> DWORD {
        // Append access, so that every write lands at the end of the file as it is then; read
        // access only for the lock below.
        file->Reset(CreateFileW(path.c_str(),
                                FILE_APPEND_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        return *file ? 0 : GetLastError();
    };
    DWORD error = open(OPEN_EXISTING);
    if (error == ERROR_FILE_NOT_FOUND) {
        error = open(CREATE_NEW);
        if (error == ERROR_FILE_EXISTS) {
            error = open(OPEN_EXISTING);  // another run made it meanwhile, or a link is there
        }
    }
    if (error == 0 && !IsFileAsked(file->Get(), path)) {
        file->Reset();
        return kStoppedOnLink;
    }
    return error;
}

}  // namespace

void PackagerLog::Configure(const std::wstring& given, int level) {
    path = given;
    allowed = level < 0 ? kInfo : level;
    failure = 0;
}

void PackagerLog::Write(int level, const std::string& message) {
    if (path.empty() || level > allowed || failure != 0) {
        return;
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[32];
    std::snprintf(stamp, sizeof(stamp), "%04u-%02u-%02u %02u:%02u:%02u ", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond);
    const char* name = level == kError ? "ERROR " : level == kWarning ? "WARN  " : "INFO  ";
    const std::string line = std::string(stamp) + name + OneLineText(message) + "\r\n";
    failure = RetryWhileBusy([&] { return Append(line); });
}

DWORD PackagerLog::Append(const std::string& line) const {
    UniqueFile file;
    if (const DWORD error = OpenLog(path, &file); error != 0) {
        return error;
    }
    // Windows appends atomically, but not every implementation of the interface does (Wine
    // finds the end, then writes there): concurrent runs take turns through a lock on one
    // byte far beyond any end of the file, which no write ever touches. A run that dies
    // holding it releases it with its handles; one that is suspended or stuck while it holds
    // it must not stall every other run, so the lock is not waited for here but tried again
    // as a busy file is (ERROR_LOCK_VIOLATION), and after that the log is unwritable.
    OVERLAPPED turn{};
    turn.OffsetHigh = 0x40000000;
    if (!LockFileEx(file.Get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                    &turn)) {
        return GetLastError();
    }
    DWORD written = 0;
    const BOOL wrote =
        WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    const DWORD error = wrote ? 0 : GetLastError();
    UnlockFileEx(file.Get(), 0, 1, 0, &turn);
    if (!wrote) {
        return error;
    }
    return written == line.size() ? 0 : ERROR_WRITE_FAULT;
}
