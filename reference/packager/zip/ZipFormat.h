#pragma once

// What the ZIP engine's parts share, without any platform header: the statuses, an entry as
// the directory describes it, where archive bytes come from and go to, how an archive is
// written and the format's limits. The engine knows nothing of catalogs or packages.

#include <cstddef>
#include <cstdint>
#include <string>

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

// How an archive is written.
struct ZipOptions {
    int level = 1;  // zlib's, for what shrinks
    // Threads that encode file blocks side by side; 0: the writing thread encodes them.
    unsigned workers = 1;
    size_t blockSize = 512 << 10;  // a multiple of 64 KiB, or smaller than that
    // Files only: written through to disk, on a thread of its own, each time this many bytes
    // have been written since (0: never).
    uint64_t flushEvery = 0;
};

// From what size or count on the ZIP64 records are written: the format's own limits
// (kZipLimits), or smaller ones, with which a test reaches those records with little data.
struct ZipLimits {
    uint64_t field32;    // sizes and offsets of this value or more go to ZIP64 fields
    uint64_t count16;    // an entry count of this value or more needs the ZIP64 end records
    uint64_t localFrom;  // a content of this size or more gets ZIP64 fields in its local header
};

// A content of 0xFFF00000 bytes or more gets the ZIP64 fields in its local header: stored
// deflate blocks grow incompressible data by 5 bytes in 65535, and a local header without
// them describes up to 4 GiB.
inline constexpr ZipLimits kZipLimits{0xFFFFFFFFull, 0xFFFFull, 0xFFF00000ull};

// Where an archive is read from.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Reads exactly `size` bytes at `offset`; false when they are not all there or the
    // read fails.
    virtual bool ReadAt(uint64_t offset, void* buffer, size_t size) = 0;
};

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
    // Makes everything written so far durable; false when that, or any earlier attempt
    // (made in the background as the archive grew), failed.
    virtual bool Sync() = 0;
};
