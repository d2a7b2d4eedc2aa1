#pragma once

// Writing an archive's records, front to back, into a ByteSink.

#include <cstdint>
#include <functional>
#include <string>
#include <set>
#include <vector>

#include "ZipFormat.h"

// Writes an archive front to back. Each entry's local header is written first and completed
// (CRC and sizes) once its data is in, so nothing is held beyond the caller's buffers. Every
// entry refuses a name already written (Duplicate), in any spelling that Windows extracts to
// the same file (FileNameKey: letter case, trailing dots and blanks): a ZIP with two entries of
// one name is read differently by different tools, and the second may replace the first.
//
// The bytes depend only on what is written: each entry carries the modification time its
// caller gives (seconds since 1970 UTC): in the DOS fields as UTC, clamped to the years 1980
// to 2107 that they hold, and, from 1970 to 2038, exactly in an extended timestamp field
// (0x5455), which unzip tools use to restore the time.
class ZipStreamWriter {
  public:
    // ZIP64 records from `limits` on (kZipLimits but in tests).
    ZipStreamWriter(ByteSink& sink, const ZipOptions& options, const ZipLimits& limits);

    // One deflated entry of `data`, modified at `modified`.
    ZipStatus AddBytes(const std::string& name, const std::string& data, int64_t modified);

    // An entry streamed by its caller: BeginEntry, the entry's bytes as stored (deflated by
    // the caller when `method` says so) through Data, then EndEntry with the CRC-32 and size
    // of the content, or AbandonEntry. `expectedSize` decides whether the local header gets
    // ZIP64 fields, which a content of 4 GiB or more needs (its size is known only at the end).
    ZipStatus BeginEntry(const std::string& name, uint16_t method, uint64_t expectedSize,
                         int64_t modified);
    ZipStatus Data(const void* data, size_t size);
    ZipStatus EndEntry(uint32_t crc, uint64_t size);
    // Takes the entry begun last out of the archive, bytes and name: the sink is cut back to
    // where it began, and the name may be written again.
    ZipStatus AbandonEntry();

    // Rewrites in place the bytes written so far for the entry begun last, which then has
    // `method`: they are cut into pieces of `piece` bytes (the last one shorter), and each is
    // replaced by what `convert` appends for it, which is `sizeOf` its length, no less than
    // the length. The data goes on after the converted bytes.
    struct Conversion {
        uint16_t method = 0;
        size_t piece = 0;
        std::function<uint64_t(size_t length)> sizeOf;
        std::function<void(const char* data, size_t length, std::string* out)> convert;
    };
    ZipStatus ConvertEntry(const Conversion& conversion);

    // The central directory and the end records, then the whole archive made durable
    // (ByteSink::Sync): an archive whose bytes may not have reached the disk is a failure.
    ZipStatus Finish();

  private:
    struct Written {
        ZipEntry entry;
        bool zip64Local = false;
        uint64_t dataStart = 0;  // where the entry's bytes begin
    };
    bool Write(const void* data, size_t size);

    ByteSink& sink;
    ZipOptions options;
    ZipLimits limits;
    uint64_t offset = 0;
    Written current;
    std::vector<Written> written;
    std::set<std::u16string> names;  // FileNameKey of each name written
};
