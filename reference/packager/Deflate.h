#pragma once

// zlib's raw deflate (no zlib or gzip wrapper, as ZIP entries hold it), for the writer.

#include <zlib.h>

#include <cstddef>
#include <string>

class Deflater {
  public:
    explicit Deflater(int level) {
        ready = deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~Deflater() {
        if (ready) {
            deflateEnd(&stream);
        }
    }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    bool Ready() const { return ready; }
    z_stream& Stream() { return stream; }

    // Feeds `size` bytes at `input` and hands what comes out to `write(data, size)` (which
    // answers false to stop). `flush` is zlib's: Z_NO_FLUSH while data follows, Z_SYNC_FLUSH
    // to have everything so far out, ending on a byte boundary, Z_FINISH to end the stream.
    template <typename Write>
    bool Feed(const char* input, size_t size, int flush, Write write) {
        if (out.empty()) {
            out.resize(256 << 10);  // on first use: the block deflater brings buffers of its own
        }
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input));
        stream.avail_in = static_cast<uInt>(size);
        for (;;) {
            stream.next_out = reinterpret_cast<Bytef*>(out.data());
            stream.avail_out = static_cast<uInt>(out.size());
            const int result = deflate(&stream, flush);
            if (result == Z_STREAM_ERROR) {
                return false;
            }
            const size_t produced = out.size() - stream.avail_out;
            if (produced > 0 && !write(out.data(), produced)) {
                return false;
            }
            if (flush == Z_FINISH ? result == Z_STREAM_END
                                  : stream.avail_in == 0 && stream.avail_out != 0) {
                return true;
            }
        }
    }

  private:
    z_stream stream{};
    bool ready = false;
    std::string out;
};
