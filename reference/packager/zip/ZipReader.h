#pragma once

// The reference packager's reader of ZIP files on Windows (the catalog): the central directory
// of ZipRecordReader.h over an open file, and entries extracted into memory.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ZipRecordReader.h"

class ZipReader {
  public:
    ZipReader();
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    // Opens the archive at `path` and reads its central directory, closing any archive the
    // reader had open: OpenFailed, ReadFailed, or the directory's status.
    ZipStatus Open(const std::wstring& path);
    const std::vector<ZipEntry>& Entries() const { return entries; }
    // Extracts one entry, checking its size and CRC; at most `maxSize` bytes.
    ZipStatus Extract(const std::string& name, uint64_t maxSize, std::string* content);
    // The platform's error code of the last failed open or read.
    DWORD SystemError() const;

  private:
    class FileSource;

    std::unique_ptr<FileSource> source;
    std::vector<ZipEntry> entries;
};
