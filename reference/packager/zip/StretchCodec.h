#pragma once

// One block of a file as bytes of one raw deflate stream, stretch by stretch: each stretch of
// kStretchSize (the last one shorter) is judged from its own bytes, cheaply (StretchShrinks),
// and neighbouring stretches of one verdict make a run. A run that will shrink is deflated
// (zlib) with the 32 KiB before it as its dictionary; a run that will not is framed as stored
// deflate blocks, at copy speed. Every run ends on a byte boundary, the block's last run ends
// the stream when the block is the file's last, so blocks written in order make one stream,
// and nothing depends on anything but the bytes: the same input gives the same output on any
// thread and in either build. Needs no platform header (the fuzz targets build it natively).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ZlibStream.h"

inline constexpr size_t kStretchSize = 64 << 10;
inline constexpr size_t kDeflateWindow = 32 << 10;  // the most a back-reference reaches

// True when a deflater would take at least a tenth off `size` bytes, as far as a sample of
// them tells: their byte distribution's entropy (at most 7.2 bits a byte) or the 4-byte
// sequences that repeat in it. Integer arithmetic only.
bool StretchShrinks(const unsigned char* data, size_t size);

// The bytes of stored deflate blocks holding `size` bytes at `data`: blocks of at most 65535
// bytes, each a 5-byte header and the bytes; the last one final when `final` (an empty final
// block when `size` is 0). Appended to `out`.
void FrameStored(const char* data, size_t size, bool final, std::string* out);

// The size FrameStored makes of `size` bytes that do not end the stream.
uint64_t FramedSize(uint64_t size);

// Turns one block of a file into deflate stream bytes.
class BlockEncoder {
  public:
    struct Result {
        bool ok = false;  // false: the encoder failed (memory)
        // Some run was deflated, and `out` holds the block's deflate form. Otherwise `out` is
        // empty: the block is stored whole, and its deflate form is FrameStored of it.
        bool deflated = false;
    };

    virtual ~BlockEncoder() = default;

    // `size` bytes at `data`, after `dictionarySize` bytes at `dictionary` (the file's bytes
    // just before, at most kDeflateWindow), into `out` (replaced); `last`: the block ends the
    // file's stream.
    virtual Result Encode(const char* dictionary, size_t dictionarySize, const char* data,
                          size_t size, bool last, std::string* out) = 0;
};

// The encoder of the library, stretch by stretch as above; on one thread at a time (each
// worker has its own).
class StretchCodec : public BlockEncoder {
  public:
    explicit StretchCodec(int level);
    StretchCodec(const StretchCodec&) = delete;
    StretchCodec& operator=(const StretchCodec&) = delete;

    Result Encode(const char* dictionary, size_t dictionarySize, const char* data, size_t size,
                  bool last, std::string* out) override;

  private:
    struct Block {
        const char* dictionary;
        size_t dictionarySize;
        const char* data;
        size_t size;
        bool last;
    };
    Result EncodeRuns(const Block& block, std::string* out);
    bool Deflate(const char* window, size_t windowSize, const char* data, size_t size, bool final,
                 std::string* out);

    DeflateStream stream;
    std::vector<bool> verdicts;  // of each stretch of the block: it shrinks
    std::string before;          // the window before a run, when it reaches into the dictionary
};
