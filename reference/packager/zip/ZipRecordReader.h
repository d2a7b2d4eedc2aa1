#pragma once

// Reading an archive's records: its central directory and its entries.

#include <cstdint>
#include <string>
#include <vector>

#include "ZipFormat.h"

// The entries of the archive's central directory, in their order. ReadFailed when the end
// records or the directory cannot be read, Corrupt when the records contradict each other or
// the source.
ZipStatus ReadZipDirectory(ByteSource& source, std::vector<ZipEntry>* entries);

// The content of `entry`, stored or deflated, its size and CRC-32 checked; TooLarge beyond
// `maxSize` bytes.
ZipStatus ExtractZipEntry(ByteSource& source, const ZipEntry& entry, uint64_t maxSize,
                          std::string* content);
