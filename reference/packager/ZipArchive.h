#pragma once

// The small ZIP container code of the reference packager: a reader for the catalog and a
// streaming writer for the package. zlib does the (de)compression and the CRC-32; the
// container records are this file's own. ZIP64 records are written when a size or an
// offset needs them (or always, when asked, for tests), and read when present.

#include <windows.h>

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "WinResources.h"

enum class ZipStatus {
    Ok,
    OpenFailed,  // the file cannot be opened (last error kept in `systemError`)
    ReadFailed,
    WriteFailed,
    Corrupt,      // not a ZIP archive, or records that contradict each other
    Unsupported,  // a compression method or feature this code does not read
    NotFound,     // no entry of that name
    TooLarge,     // an entry larger than the caller's bound
    Duplicate,    // an entry of a name the writer already wrote
};

struct ZipEntry {
    std::string name;  // as stored (UTF-8 when bit 11 is set)
    uint16_t method = 0;
    uint32_t crc = 0;
    uint64_t compressedSize = 0;
    uint64_t size = 0;
    uint64_t localHeaderOffset = 0;
};

// Reads the central directory of an archive and extracts entries into memory.
class ZipReader {
  public:
    ZipStatus Open(const std::wstring& path);
    const std::vector<ZipEntry>& Entries() const { return entries; }
    // Extracts one entry, checking its size and CRC; at most `maxSize` bytes.
    ZipStatus Extract(const std::string& name, uint64_t maxSize, std::string* content);
    DWORD SystemError() const { return systemError; }

  private:
    bool ReadAt(uint64_t offset, void* buffer, size_t size);

    UniqueFile file;
    uint64_t fileSize = 0;
    std::vector<ZipEntry> entries;
    DWORD systemError = 0;
};

// Writes an archive front to back into an open, seekable file. Each entry's local header is
// written first and completed (CRC and sizes) once its data is in, so nothing is held in
// memory beyond one buffer.
class ZipWriter {
  public:
    struct Options {
        bool forceZip64 = false;
        int level = 1;  // zlib level for entries that compress
    };

    ZipWriter(HANDLE file, Options options);
    explicit ZipWriter(HANDLE target) : ZipWriter(target, Options{}) {}

    // Adds `data` as one deflated entry. Every add refuses a name already written (Duplicate):
    // a ZIP with two entries of one name is read differently by different tools.
    ZipStatus AddBytes(const std::string& name, const std::string& data);
    // Streams a file into one entry: deflated when its first megabyte compresses well,
    // stored otherwise (installers are mostly compressed already).
    ZipStatus AddFile(const std::string& name, const std::wstring& path);
    // Writes the central directory and the end records.
    ZipStatus Finish();
    DWORD SystemError() const { return systemError; }

  private:
    struct Written {
        ZipEntry entry;
        bool zip64Local;
    };
    ZipStatus BeginEntry(const std::string& name, uint16_t method, bool zip64, Written* out);
    ZipStatus EndEntry(Written& written);
    bool Write(const void* data, size_t size);
    bool WriteAt(uint64_t offset, const void* data, size_t size);

    HANDLE file;
    Options options;
    uint64_t offset = 0;
    std::vector<Written> written;
    std::unordered_set<std::string> names;
    DWORD systemError = 0;
};
