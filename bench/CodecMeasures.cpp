#include "CodecMeasures.h"

#include <zlib.h>

#include <algorithm>
#include <string>

#include "Crc32.h"
#include "Noise.h"
#include "StretchCodec.h"
#include "ZlibStream.h"

void MeasureCrc() {
    const std::string data = Noise(64 << 20, 88172645);
    auto rate = [&](auto crc) {
        double best = 1e9;
        for (int round = 0; round < 3; ++round) {
            const double start = Now();
            volatile uint32_t value = crc(data.data(), data.size());
            (void)value;
            best = std::min(best, Now() - start);
        }
        return 64 / best;
    };
    std::printf("CRC-32 in memory: zlib %.0f MiB/s, tables %.0f MiB/s, packager %.0f MiB/s\n",
                rate([](const char* p, size_t n) {
                    return static_cast<uint32_t>(
                        crc32(0, reinterpret_cast<const Bytef*>(p), static_cast<uInt>(n)));
                }),
                rate([](const char* p, size_t n) { return Crc32Tables(0, p, n); }),
                rate([](const char* p, size_t n) { return Crc32(0, p, n); }));
}

namespace {

// The whole file under the current folder's vendor\, or nothing.
std::string ReadVendorFile(const std::wstring& name) {
    const UniqueFile in(CreateFileW((L"vendor\\" + name).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    std::string data;
    if (in && GetFileSizeEx(in.Get(), &size)) {
        data.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        ReadFile(in.Get(), data.data(), static_cast<DWORD>(data.size()), &got, nullptr);
        data.resize(got);
    }
    return data;
}

// The size of `n` bytes deflated alone at level 1.
size_t DeflatedSize(const unsigned char* p, size_t n, std::string* out) {
    DeflateStream stream(1);
    if (!stream.Ready()) {
        return n;
    }
    out->resize(deflateBound(stream.Get(), static_cast<uLong>(n)));
    stream.Get()->next_in = const_cast<Bytef*>(p);
    stream.Get()->avail_in = static_cast<uInt>(n);
    stream.Get()->next_out = reinterpret_cast<Bytef*>(out->data());
    stream.Get()->avail_out = static_cast<uInt>(out->size());
    deflate(stream.Get(), Z_FINISH);
    return out->size() - stream.Get()->avail_out;
}

}  // namespace

void MeasureVerdicts(const DataSet& set) {
    uint64_t bytes[2][2] = {};  // [judged to shrink][shrinks by a tenth]
    double judging = 0, deflating = 0;
    std::string out;
    for (const std::wstring& name : set.names) {
        const std::string data = ReadVendorFile(name);
        for (size_t at = 0; at < data.size(); at += kStretchSize) {
            const size_t n = std::min(kStretchSize, data.size() - at);
            const auto* p = reinterpret_cast<const unsigned char*>(data.data() + at);
            double start = Now();
            const bool judged = StretchShrinks(p, n);
            judging += Now() - start;
            start = Now();
            const size_t deflated = DeflatedSize(p, n, &out);
            deflating += Now() - start;
            bytes[judged][deflated * 10 <= n * 9] += n;
        }
    }
    const double all = static_cast<double>(set.bytes) / 100;
    std::printf(
        "stretch verdicts (64 KiB alone, against zlib level 1): judged to shrink and "
        "shrank by a tenth %.1f%%, judged to shrink but did not %.1f%%, judged not to "
        "but would %.1f%%, judged not to and would not %.1f%%\n",
        bytes[1][1] / all, bytes[1][0] / all, bytes[0][1] / all, bytes[0][0] / all);
    std::printf("stretch test: %.3f s, deflating every stretch %.3f s (%.1f%%)\n", judging,
                deflating, 100 * judging / deflating);
}
