#pragma once

// The ZIP container records of the reference packager, without any platform header: the
// reader of the central directory and of entries, and the streaming writer. Bytes come from
// a ByteSource and go to a ByteSink: a Win32 file in the library (ZipArchive.h), memory in
// the fuzz targets. zlib does the (de)compression; ZIP64 records are written when a size, an
// offset or the entry count needs them (or always, when asked, for tests), and read when
// present.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

enum class ZipStatus {
    Ok,
    OpenFailed,  // the file cannot be opened
    ReadFailed,
    WriteFailed,
    Corrupt,      // not a ZIP archive, or records that contradict each other
    Unsupported,  // a compression method or feature this code does not read
    NotFound,     // no entry of that name
    TooLarge,     // an entry larger than the caller's bound
    Duplicate,    // an entry of a name the writer already wrote
    Mismatch,     // a file's content is not what its pinned digest says
    OutOfMemory,
    Stopped,  // the caller asked to stop
};

struct ZipEntry {
    std::string name;  // as stored (UTF-8 when bit 11 is set)
    uint16_t method = 0;
    uint32_t crc = 0;
    uint64_t compressedSize = 0;
    uint64_t size = 0;
    uint64_t localHeaderOffset = 0;
    // Last modification, seconds since 1970-01-01 UTC (written; not read back).
    int64_t modified = 0;
};

inline constexpr uint16_t kZipStored = 0;
inline constexpr uint16_t kZipDeflated = 8;

// Where an archive is read from.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Reads exactly `size` bytes at `offset`; false when they are not all there or the
    // read fails.
    virtual bool ReadAt(uint64_t offset, void* buffer, size_t size) = 0;
};

// The entries of the archive's central directory, in their order. ReadFailed when the end
// records or the directory cannot be read, Corrupt when the records contradict each other or
// the source.
ZipStatus ReadZipDirectory(ByteSource& source, std::vector<ZipEntry>* entries);

// The content of `entry`, stored or deflated, its size and CRC-32 checked; TooLarge beyond
// `maxSize` bytes.
ZipStatus ExtractZipEntry(ByteSource& source, const ZipEntry& entry, uint64_t maxSize,
                          std::string* content);

// Where an archive is written to, front to back.
class ByteSink {
  public:
    virtual ~ByteSink() = default;
    // Appends; false when not everything was written.
    virtual bool Write(const void* data, size_t size) = 0;
    // Rewrites bytes already written, then goes on appending at the end.
    virtual bool WriteAt(uint64_t offset, const void* data, size_t size) = 0;
    // Cuts everything from `size` on; appending goes on there.
    virtual bool Truncate(uint64_t size) = 0;
    // Reads back exactly `size` bytes written at `offset`.
    virtual bool ReadAt(uint64_t offset, void* data, size_t size) = 0;
};

// Writes an archive front to back. Each entry's local header is written first and completed
// (CRC and sizes) once its data is in, so nothing is held beyond the caller's buffers. Every
// entry refuses a name already written (Duplicate): a ZIP with two entries of one name is
// read differently by different tools.
//
// The bytes depend only on what is written: each entry carries the modification time its
// caller gives (seconds since 1970 UTC): in the DOS fields as UTC, clamped to the years 1980
// to 2107 that they hold, and, from 1970 to 2038, exactly in an extended timestamp field
// (0x5455), which unzip tools use to restore the time.
class ZipStreamWriter {
  public:
    struct Options {
        bool forceZip64 = false;
        int level = 1;  // zlib level for deflated entries
    };

    ZipStreamWriter(ByteSink& sink, const Options& options);

    // One deflated entry of `data`, modified at `modified`.
    ZipStatus AddBytes(const std::string& name, const std::string& data, int64_t modified);

    // An entry streamed by its caller: BeginEntry, the entry's bytes as stored (deflated by
    // the caller when `method` says so) through Data, then EndEntry with the CRC-32 and size
    // of the content, or AbandonEntry. `zip64` asks for the ZIP64 fields in the local header,
    // which a content of 4 GiB or more needs (its size is known only at the end).
    ZipStatus BeginEntry(const std::string& name, uint16_t method, bool zip64, int64_t modified);
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

    // The central directory and the end records.
    ZipStatus Finish();

  private:
    struct Written {
        ZipEntry entry;
        bool zip64Local = false;
        uint64_t dataStart = 0;  // where the entry's bytes begin
    };
    bool Write(const void* data, size_t size);

    ByteSink& sink;
    Options options;
    uint64_t offset = 0;
    Written current;
    std::vector<Written> written;
    std::unordered_set<std::string> names;
};

// A content of this size or more gets the ZIP64 fields in its local header: stored deflate
// blocks grow incompressible data by 5 bytes in 65535, and a local header without them
// describes up to 4 GiB.
inline constexpr uint64_t kZip64FromSize = 0xFFF00000ull;
