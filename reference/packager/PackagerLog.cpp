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
    // Append access alone: every write lands at the end of the file as it is then, whoever
    // else is appending.
    const UniqueFile file(CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return GetLastError();
    }
    DWORD written = 0;
    if (!WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr)) {
        return GetLastError();
    }
    return written == line.size() ? 0 : ERROR_WRITE_FAULT;
}
