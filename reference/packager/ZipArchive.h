#pragma once

// The reference packager's ZIP files on Windows: a reader for the catalog and a streaming
// writer for the package, over the records of ZipFormat.h. Vendor files are read a piece at
// a time and never held whole.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "DigestText.h"
#include "PieceReader.h"
#include "WinResources.h"
#include "ZipFormat.h"

// A file time in seconds since 1970 UTC, to the second below: how entries carry times.
int64_t UnixTime(const FILETIME& time);

// Reads the central directory of an archive file and extracts entries into memory.
class ZipReader {
  public:
    ZipStatus Open(const std::wstring& path);
    const std::vector<ZipEntry>& Entries() const { return entries; }
    // Extracts one entry, checking its size and CRC; at most `maxSize` bytes.
    ZipStatus Extract(const std::string& name, uint64_t maxSize, std::string* content);
    // The platform's error code of the last failed open or read.
    DWORD SystemError() const { return source.Error(); }

  private:
    // An open file as a ByteSource, keeping the error code of a failed read.
    class FileSource : public ByteSource {
      public:
        ZipStatus Open(const std::wstring& path);
        uint64_t Size() const override { return size; }
        bool ReadAt(uint64_t offset, void* buffer, size_t count) override;
        DWORD Error() const { return error; }

      private:
        UniqueFile file;
        uint64_t size = 0;
        DWORD error = 0;
    };

    FileSource source;
    std::vector<ZipEntry> entries;
};

// Writes an archive front to back into an open, seekable file.
class ZipWriter {
  public:
    struct Options {
        bool forceZip64 = false;
        int level = 1;  // zlib level for entries that compress
        // Threads that deflate a compressible file, a block each at a time; 0: one per
        // processor the system reports, at most 16.
        unsigned deflateWorkers = 0;
        size_t deflateBlock = 512 << 10;
    };

    // What AddFile learnt of a file: its size, and its SHA-256 digest when one was pinned.
    struct FileFacts {
        uint64_t size = 0;
        std::optional<Sha256Digest> sha256;
    };

    ZipWriter(HANDLE file, Options options);
    explicit ZipWriter(HANDLE target) : ZipWriter(target, Options{}) {}

    // Adds `data` as one deflated entry, modified at `modified` (seconds since 1970 UTC).
    // Every add refuses a name already written (Duplicate).
    ZipStatus AddBytes(const std::string& name, const std::string& data, int64_t modified);
    // Streams a file into one entry, with the file's last-write time: deflated when its first
    // 256 KiB compress by a tenth, stored otherwise (installers are mostly compressed already).
    // With `pinned`, the SHA-256 digest of the bytes read must be that digest: otherwise the
    // entry is taken out again (Mismatch) and nothing of the file stays in the archive. What
    // was learnt goes to `facts` (may be null), on a mismatch too.
    ZipStatus AddFile(const std::string& name, const std::wstring& path,
                      const Sha256Digest* pinned = nullptr, FileFacts* facts = nullptr);
    // Writes the central directory and the end records.
    ZipStatus Finish();
    // The platform's error code of the last failed read or write.
    DWORD SystemError() const { return systemError; }

  private:
    // An open file as a ByteSink, keeping the error code of a failed write.
    class FileSink : public ByteSink {
      public:
        explicit FileSink(HANDLE target) : file(target) {}
        bool Write(const void* data, size_t size) override;
        bool WriteAt(uint64_t offset, const void* data, size_t size) override;
        bool Truncate(uint64_t size) override;
        DWORD Error() const { return error; }

      private:
        HANDLE file;
        DWORD error = 0;
    };

    ZipStatus StreamFile(const std::string& name, HANDLE file, uint64_t size, int64_t modified,
                         const Sha256Digest* pinned, FileFacts* facts);
    ZipStatus StreamRest(PieceReader& reader, PieceReader::Piece& piece, size_t sampled,
                         uint64_t* total);
    // Keeps the sink's error code of a failed write as the writer's.
    ZipStatus Noted(ZipStatus status);

    Options options;
    FileSink sink;
    ZipStreamWriter writer;
    DWORD systemError = 0;
};
