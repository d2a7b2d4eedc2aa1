#pragma once

// Owners of zlib's raw-deflate streams, as the Win32 owners are of handles: the one place
// that ends a stream. Without a platform header: the fuzz targets build them natively.

#include <zlib.h>

// A raw (headerless) deflate stream at `level`, window 32 KiB.
class DeflateStream {
  public:
    explicit DeflateStream(int level)
        : ready(deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) ==
                Z_OK) {}
    ~DeflateStream() {
        if (ready) {
            deflateEnd(&stream);
        }
    }
    DeflateStream(const DeflateStream&) = delete;
    DeflateStream& operator=(const DeflateStream&) = delete;

    // False when zlib could not make the stream (memory); it is then never used.
    bool Ready() const { return ready; }
    z_stream* Get() { return &stream; }

  private:
    z_stream stream{};
    bool ready;
};

// A raw inflate stream.
class InflateStream {
  public:
    InflateStream() : ready(inflateInit2(&stream, -MAX_WBITS) == Z_OK) {}
    ~InflateStream() {
        if (ready) {
            inflateEnd(&stream);
        }
    }
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;

    bool Ready() const { return ready; }
    z_stream* Get() { return &stream; }

  private:
    z_stream stream{};
    bool ready;
};
