#pragma once

// Whole reads and writes of an open file, in pieces a ReadFile or WriteFile can take, and a
// file's times as archives carry them: what the archive's reader and writer share.

#include <windows.h>

#include <cstddef>
#include <cstdint>

// The most one ReadFile or WriteFile is asked for: DWORD counts, and pieces this large cost
// nothing more than one.
inline constexpr size_t kFilePiece = size_t{1} << 30;

// Reads exactly `size` bytes from the file's position; false with the platform's code in
// `*error` (ERROR_HANDLE_EOF when the file ends first).
bool ReadExactly(HANDLE file, void* buffer, size_t size, DWORD* error);

// Writes all `size` bytes at the file's position; false with the platform's code in `*error`.
bool WriteExactly(HANDLE file, const void* data, size_t size, DWORD* error);

// A file time in seconds since 1970 UTC, to the second below: how entries carry times.
int64_t UnixTime(const FILETIME& time);

// The file's last write in seconds since 1970 UTC, or 0 when it cannot be read.
int64_t LastWriteTime(HANDLE file);
