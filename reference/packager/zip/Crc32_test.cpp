#include "Crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "Noise.h"

namespace {

uint32_t Zlib(uint32_t crc, const unsigned char* p, size_t n) {
    return static_cast<uint32_t>(crc32(crc, p, static_cast<uInt>(n)));
}

TEST(Crc32, AgreesWithZlibForEveryLengthUpTo4KiBAtOddAlignments) {
    const std::string noise = Noise(4096 + 64, 20261209);
    const std::vector<unsigned char> bytes(noise.begin(), noise.end());
    for (size_t offset = 0; offset < 16; offset += (offset < 4 ? 1 : 5)) {
        for (size_t length = 0; length <= 4096; ++length) {
            const unsigned char* p = bytes.data() + offset;
            const uint32_t expected = Zlib(0, p, length);
            ASSERT_EQ(Crc32(0, p, length), expected) << "length " << length << " at +" << offset;
            ASSERT_EQ(Crc32Tables(0, p, length), expected) << "length " << length;
        }
    }
}

TEST(Crc32, ChainsAcrossPiecesOfAnySize) {
    const std::string noise = Noise(3 << 20, 7);
    const std::vector<unsigned char> bytes(noise.begin(), noise.end());
    const uint32_t whole = Zlib(0, bytes.data(), bytes.size());
    EXPECT_EQ(Crc32(0, bytes.data(), bytes.size()), whole);
    uint32_t chained = 0;
    for (size_t at = 0, step = 1; at < bytes.size(); at += step, step = step * 3 + 1) {
        const size_t n = std::min(step, bytes.size() - at);
        chained = Crc32(chained, bytes.data() + at, n);
    }
    EXPECT_EQ(chained, whole);
    EXPECT_EQ(Crc32(0, "123456789", 9), 0xCBF43926u);  // the standard check value

    // Pieces checksummed apart, as the workers do, combine to the whole.
    uint32_t combined = 0;
    for (size_t at = 0, step = 0; at < bytes.size(); at += step, step = step * 5 + 3) {
        const size_t n = std::min(step, bytes.size() - at);
        combined = Crc32Combine(combined, Crc32(0, bytes.data() + at, n), n);
    }
    EXPECT_EQ(combined, whole);
}

}  // namespace
