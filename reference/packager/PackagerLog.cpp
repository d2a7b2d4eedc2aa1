#include "PackagerLog.h"

#include <cstdio>

#include "BusyRetry.h"
#include "WinResources.h"

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
    failure = RetryWhileBusy([&] { return Append(std::string(stamp) + name + message + "\r\n"); });
}

DWORD PackagerLog::Append(const std::string& line) const {
    // Append access, so that every write lands at the end of the file as it is then; read
    // access only for the lock below.
    const UniqueFile file(CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return GetLastError();
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
