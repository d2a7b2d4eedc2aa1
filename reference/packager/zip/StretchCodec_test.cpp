#include "StretchCodec.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

#include "Noise.h"

namespace {

// Machine code in miniature: a few opcodes and small offsets, no long repeats.
std::string CodeLike(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    static const unsigned char kOps[] = {0x48, 0x89, 0x8B, 0xE8, 0xC3,
                                         0x0F, 0x85, 0x00, 0xFF, 0x74};
    std::string out(size, '\0');
    for (char& c : out) {
        c = static_cast<char>(random() % 3 == 0 ? random() : kOps[random() % 10]);
    }
    return out;
}

// The raw deflate stream `blocks` make, inflated; empty when it does not inflate to its end.
std::string Inflate(const std::string& stream) {
    z_stream z{};
    inflateInit2(&z, -MAX_WBITS);
    std::string out(64 << 20, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
    z.avail_in = static_cast<uInt>(stream.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int result = inflate(&z, Z_FINISH);
    out.resize(result == Z_STREAM_END && z.avail_in == 0 ? z.total_out : 0);
    inflateEnd(&z);
    return out;
}

TEST(StretchCodec, TheTestTellsNoiseFromWhatShrinks) {
    // (A few hundred bytes tell too little: the codec deflates them and keeps what is smaller.)
    for (size_t size : {size_t{2048}, size_t{4000}, kStretchSize}) {
        const std::string noise = Noise(size, 1);
        EXPECT_FALSE(StretchShrinks(reinterpret_cast<const unsigned char*>(noise.data()), size))
            << size;
    }
    // Text, program code, zeros and a repeated piece of noise (no skew, but matches) shrink.
    const std::string piece = Noise(1000, 2);
    std::string repeated;
    while (repeated.size() < kStretchSize) {
        repeated += piece;
    }
    for (const std::string& data :
         {std::string(kStretchSize, '\0'), CodeLike(kStretchSize, 3),
          repeated.substr(0, kStretchSize),
          std::string(kStretchSize / 13 + 1, 'x') + Noise(kStretchSize / 2, 4)}) {
        EXPECT_TRUE(
            StretchShrinks(reinterpret_cast<const unsigned char*>(data.data()), data.size()));
    }
    EXPECT_FALSE(StretchShrinks(nullptr, 0));
}

TEST(StretchCodec, StoredFramesHoldAtMost65535BytesEach) {
    std::string out;
    FrameStored("abc", 3, true, &out);
    EXPECT_EQ(out, std::string("\x01\x03\x00\xFC\xFF"
                               "abc",
                               8));
    out.clear();
    FrameStored(nullptr, 0, true, &out);
    EXPECT_EQ(out, std::string("\x01\x00\x00\xFF\xFF", 5)) << "an empty final block";
    out.clear();
    FrameStored(nullptr, 0, false, &out);
    EXPECT_EQ(out, std::string("\x00\x00\x00\xFF\xFF", 5));
    const std::string big = Noise(65535 * 2 + 1, 5);
    out.clear();
    FrameStored(big.data(), big.size(), false, &out);
    EXPECT_EQ(out.size(), FramedSize(big.size()));
    EXPECT_EQ(out.size(), big.size() + 15);
    EXPECT_EQ(out.substr(0, 5), std::string("\x00\xFF\xFF\x00\x00", 5));
    EXPECT_EQ(out.substr(65540, 5), std::string("\x00\xFF\xFF\x00\x00", 5));
    EXPECT_EQ(out.substr(131080, 5), std::string("\x00\x01\x00\xFE\xFF", 5));
}

TEST(StretchCodec, BlocksInOrderMakeOneStreamThatInflatesToTheFile) {
    // Noise, text, noise and code in stretches that end on and off the 64 KiB edges, in blocks
    // of 256 KiB, each encoded with the 32 KiB before it.
    const std::string file = Noise(100000, 6) + std::string(200000, 'a') + Noise(70000, 7) +
                             CodeLike(300000, 8) + Noise(3, 9);
    const size_t block = 256 << 10;
    StretchCodec codec(1);
    std::string stream, out;
    bool anyDeflated = false, anyStored = false;
    for (size_t at = 0; at < file.size(); at += block) {
        const size_t n = std::min(block, file.size() - at);
        const size_t before = std::min(at, kDeflateWindow);
        const bool last = at + n == file.size();
        const auto result =
            codec.Encode(file.data() + at - before, before, file.data() + at, n, last, &out);
        ASSERT_TRUE(result.ok);
        if (!result.deflated) {
            FrameStored(file.data() + at, n, last, &out);
        }
        anyDeflated |= result.deflated;
        anyStored |= !result.deflated;
        stream += out;
    }
    EXPECT_TRUE(anyDeflated);
    EXPECT_LT(stream.size(), file.size() - 150000) << "the text and the code shrank";
    EXPECT_TRUE(Inflate(stream) == file);

    // A block of noise alone is stored whole: no deflate form of its own.
    const std::string noise = Noise(block, 10);
    const auto stored = codec.Encode(nullptr, 0, noise.data(), noise.size(), true, &out);
    EXPECT_TRUE(stored.ok);
    EXPECT_FALSE(stored.deflated);
    EXPECT_TRUE(out.empty());
}

}  // namespace
