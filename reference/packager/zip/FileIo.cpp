#include "FileIo.h"

#include <algorithm>

bool ReadExactly(HANDLE file, void* buffer, size_t size, DWORD* error) {
    auto* out = static_cast<char*>(buffer);
    while (size > 0) {
        DWORD got = 0;
        if (!ReadFile(file, out, static_cast<DWORD>(std::min(size, kFilePiece)), &got, nullptr)) {
            *error = GetLastError();
            return false;
        }
        if (got == 0) {
            *error = ERROR_HANDLE_EOF;
            return false;
        }
        out += got;
        size -= got;
    }
    return true;
}

bool WriteExactly(HANDLE file, const void* data, size_t size, DWORD* error) {
    const auto* in = static_cast<const char*>(data);
    while (size > 0) {
        DWORD done = 0;
        if (!WriteFile(file, in, static_cast<DWORD>(std::min(size, kFilePiece)), &done, nullptr)) {
            *error = GetLastError();
            return false;
        }
        if (done == 0) {  // a success that wrote nothing: the last error says nothing of it
            *error = ERROR_WRITE_FAULT;
            return false;
        }
        in += done;
        size -= done;
    }
    return true;
}

int64_t UnixTime(const FILETIME& time) {
    const int64_t ticks =
        static_cast<int64_t>((uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime) -
        116444736000000000;  // 100 ns ticks from 1601 to 1970
    return ticks >= 0 ? ticks / 10000000 : -((-ticks + 9999999) / 10000000);
}

int64_t LastWriteTime(HANDLE file) {
    FILETIME written{};
    return GetFileTime(file, nullptr, nullptr, &written) ? UnixTime(written) : 0;
}
