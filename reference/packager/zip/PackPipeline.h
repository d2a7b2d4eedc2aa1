#pragma once

// Many files into one archive through one pipeline: a reading thread reads the files one
// after another, a block at a time and across file boundaries, keeping each file's CRC-32 and
// (when its digest is pinned) SHA-256 from that one read; worker threads, started once for the
// whole archive, encode the blocks side by side (StretchCodec: stored or deflated stretch by
// stretch); the calling thread writes the blocks in the archive's order. A fixed number of
// blocks is in flight, whatever the files' sizes. The archive's bytes depend only on the
// files, their names and times and the options' level and block size: never on the number of
// workers or on which thread did what.
//
// An entry's method follows its first block: stored while no block of it has shrunk (a file
// that shrinks nowhere is a stored entry), deflated as soon as one has; what was written
// stored before that is then framed as stored deflate blocks in place.
//
// Needs no platform header: what it runs on comes through PackPlatform.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "DigestText.h"
#include "PackItem.h"
#include "StretchCodec.h"
#include "ZipStreamWriter.h"

// A SHA-256 digest being computed.
class PackDigest {
  public:
    virtual ~PackDigest() = default;
    virtual bool Update(const char* data, size_t size) = 0;
    virtual bool Finish(Sha256Digest* digest) = 0;
    // The platform's code of the failure when Update or Finish answered false.
    virtual uint32_t Error() const = 0;
};

// What the pipeline runs on: the files, a digest, encoders and threads.
class PackPlatform {
  public:
    virtual ~PackPlatform() = default;

    struct Opened {
        uint32_t error = 0;  // the platform's code when the file cannot be opened
        uint64_t size = 0;
        int64_t modified = 0;  // last write, seconds since 1970 UTC
    };
    // Opens file `index` of the archive; one file is open at a time, on the reading thread.
    virtual Opened Open(size_t index) = 0;
    // Reads up to `size` bytes of the open file into `buffer`: the count read (0 at its end),
    // or false with the platform's code in `*error`.
    virtual bool Read(char* buffer, size_t size, size_t* got, uint32_t* error) = 0;
    virtual void Close() = 0;
    // A SHA-256 of the platform's, or null (with `*error`) when none can be made.
    virtual std::unique_ptr<PackDigest> NewDigest(uint32_t* error) = 0;
    virtual std::unique_ptr<BlockEncoder> NewEncoder(int level) = 0;
    // Starts a thread that runs `body`; throws as std::thread's constructor does.
    virtual std::thread StartThread(std::function<void()> body) = 0;
};

// Called on the writing thread as each file is done, in the archive's order; answers false
// to stop the archive there.
using PackDone = std::function<bool(size_t index, const PackOutcome& outcome)>;

struct PackResult {
    // Ok; ReadFailed (file `file`, `error`; a digest that failed counts as a read), WriteFailed,
    // Duplicate (a name already written), OutOfMemory, or Stopped (by PackDone).
    ZipStatus status = ZipStatus::Ok;
    size_t file = 0;
    uint32_t error = 0;
};

// Writes `items` into `writer` as entries, in their order. After a failure the archive ends
// before the entry of the file that failed: no byte of a file that was not read whole, or whose
// digest did not end, stays in it. Memory that runs out on any of the pipeline's threads fails
// the archive (OutOfMemory, naming the file), never the process.
// Of `options`, the level, the workers and the block size count here.
PackResult PackFiles(ZipStreamWriter& writer, PackPlatform& platform, const ZipOptions& options,
                     const std::vector<PackItem>& items, const PackDone& done);
