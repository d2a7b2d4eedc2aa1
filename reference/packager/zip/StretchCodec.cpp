#include "StretchCodec.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace {

// The sample of a stretch: this many windows of this many bytes, spread evenly over it.
constexpr size_t kWindows = 32;
constexpr size_t kWindowBytes = 64;
constexpr size_t kLargestSample = kWindows * kWindowBytes;
constexpr size_t kStoredMost = 65535;  // the most one stored deflate block holds

// log2(x) in 16.16 fixed point, by integer arithmetic alone, so that the x86 and x64 builds
// (x87 and SSE floating point) cannot round a verdict differently.
constexpr uint32_t Log2Q16(uint32_t x) {
    const int whole = 31 - std::countl_zero(x);
    uint64_t mantissa = (uint64_t{x} << 30) >> whole;  // in [1, 2), 30 fraction bits
    uint32_t result = static_cast<uint32_t>(whole) << 16;
    for (int bit = 15; bit >= 0; --bit) {
        mantissa = (mantissa * mantissa) >> 30;
        if (mantissa >= (uint64_t{2} << 30)) {
            mantissa >>= 1;
            result |= 1u << bit;
        }
    }
    return result;
}

constexpr std::array<uint32_t, kLargestSample + 1> MakeLog2Table() {
    std::array<uint32_t, kLargestSample + 1> table{};
    for (uint32_t x = 1; x <= kLargestSample; ++x) {
        table[x] = Log2Q16(x);
    }
    return table;
}

constexpr std::array<uint32_t, kLargestSample + 1> kLog2 = MakeLog2Table();
static_assert(kLog2[1] == 0 && kLog2[2] == 65536 && kLog2[2048] == 11 * 65536);

// Counts what the sample says: its bytes, and its 4-byte sequences seen before in it.
struct Sample {
    uint32_t counts[256] = {};
    uint32_t bytes = 0;
    uint32_t sequences = 0;
    uint32_t repeats = 0;
    uint32_t seen[4096] = {};
    bool used[4096] = {};

    void Add(const unsigned char* p, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            ++counts[p[i]];
        }
        bytes += static_cast<uint32_t>(n);
        for (size_t i = 0; i + 4 <= n; ++i) {
            uint32_t sequence;
            std::memcpy(&sequence, p + i, 4);
            const uint32_t slot = (sequence * 2654435761u) >> 20;
            repeats += used[slot] && seen[slot] == sequence ? 1 : 0;
            seen[slot] = sequence;
            used[slot] = true;
            ++sequences;
        }
    }

    // Order-0 entropy of at most 7.2 bits a byte: a Huffman code alone takes a tenth off.
    bool LowEntropy() const {
        uint64_t sum = 0;
        for (uint32_t count : counts) {
            sum += uint64_t{count} * kLog2[count];
        }
        const uint64_t bits = uint64_t{bytes} * kLog2[bytes] - sum;  // 16.16, whole sample
        return bits * 10 <= uint64_t{bytes} * 72 * 65536;
    }

    // One sequence in sixteen seen before in so small a sample: matches take a tenth off. (In
    // random bytes next to none repeats; in a stretch that is a third program code, enough.)
    bool Repetitive() const { return sequences > 0 && repeats * 16 >= sequences; }
};

}  // namespace

bool StretchShrinks(const unsigned char* data, size_t size) {
    Sample sample;
    if (size <= kLargestSample) {
        sample.Add(data, size);
    } else {
        for (size_t i = 0; i < kWindows; ++i) {
            sample.Add(data + i * (size - kWindowBytes) / (kWindows - 1), kWindowBytes);
        }
    }
    return sample.bytes > 0 && (sample.LowEntropy() || sample.Repetitive());
}

void FrameStored(const char* data, size_t size, bool final, std::string* out) {
    do {
        const size_t piece = std::min(size, kStoredMost);
        const bool lastPiece = piece == size;
        out->push_back(final && lastPiece ? 1 : 0);
        out->push_back(static_cast<char>(piece & 0xFF));
        out->push_back(static_cast<char>(piece >> 8));
        out->push_back(static_cast<char>(~piece & 0xFF));
        out->push_back(static_cast<char>((~piece >> 8) & 0xFF));
        out->append(data, piece);
        data += piece;
        size -= piece;
    } while (size > 0);
}

uint64_t FramedSize(uint64_t size) {
    return size + 5 * ((size + kStoredMost - 1) / kStoredMost);
}

StretchCodec::StretchCodec(int level) : stream(level) {}

BlockEncoder::Result StretchCodec::Encode(const char* dictionary, size_t dictionarySize,
                                          const char* data, size_t size, bool last,
                                          std::string* out) {
    out->clear();
    if (!stream.Ready()) {
        return Result{};
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    verdicts.clear();
    bool anyShrinks = false;
    for (size_t at = 0; at < size; at += kStretchSize) {
        verdicts.push_back(StretchShrinks(bytes + at, std::min(kStretchSize, size - at)));
        anyShrinks |= verdicts.back();
    }
    // A block stored whole is framed, when at all, by whoever needs its deflate form.
    Result result{true, false};
    if (anyShrinks) {
        const Block block{dictionary, dictionarySize, data, size, last};
        result = EncodeRuns(block, out);
    }
    if (result.ok && !result.deflated) {
        out->clear();  // misjudged throughout: stored whole after all
    }
    return result;
}

// Neighbouring stretches of one verdict make a run: deflated, or framed as stored.
BlockEncoder::Result StretchCodec::EncodeRuns(const Block& block, std::string* out) {
    Result result{true, false};
    for (size_t start = 0; start < block.size;) {
        const bool shrinks = verdicts[start / kStretchSize];
        size_t end = std::min(block.size, start + kStretchSize);
        while (end < block.size && verdicts[end / kStretchSize] == shrinks) {
            end = std::min(block.size, end + kStretchSize);
        }
        const bool final = block.last && end == block.size;
        const size_t mark = out->size();
        if (shrinks) {
            const size_t fromData = std::min(start, kDeflateWindow);
            const size_t fromDictionary = std::min(block.dictionarySize, kDeflateWindow - fromData);
            before.assign(block.dictionary + block.dictionarySize - fromDictionary, fromDictionary);
            before.append(block.data + start - fromData, fromData);
            if (!Deflate(before.data(), before.size(), block.data + start, end - start, final,
                         out)) {
                return Result{};
            }
        }
        // A stretch the sample misjudged is stored after all: never larger than stored.
        if (!shrinks || out->size() == mark) {
            FrameStored(block.data + start, end - start, final, out);
        } else {
            result.deflated = true;
        }
        start = end;
    }
    return result;
}

// Deflates one run into `out`, ending on a byte boundary (a sync flush) or, `final`, ending
// the stream. Room for less than the run's own size: when deflate needs more, nothing is
// appended and the caller stores the run. False only when zlib fails.
bool StretchCodec::Deflate(const char* window, size_t windowSize, const char* data, size_t size,
                           bool final, std::string* out) {
    z_stream& z = *stream.Get();
    if (deflateReset(&z) != Z_OK ||
        (windowSize > 0 && deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(window),
                                                static_cast<uInt>(windowSize)) != Z_OK)) {
        return false;
    }
    const size_t mark = out->size();
    const size_t room = size - 1;
    out->resize(mark + room);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    z.avail_in = static_cast<uInt>(size);
    z.next_out = reinterpret_cast<Bytef*>(out->data() + mark);
    z.avail_out = static_cast<uInt>(room);
    const int code = deflate(&z, final ? Z_FINISH : Z_SYNC_FLUSH);
    if (code == Z_STREAM_ERROR) {
        out->resize(mark);
        return false;
    }
    const bool complete = final ? code == Z_STREAM_END : z.avail_in == 0 && z.avail_out > 0;
    out->resize(complete ? mark + room - z.avail_out : mark);
    return true;
}
