#include "Crc32.h"

#include <zlib.h>

#include <immintrin.h>

#include <array>
#include <cstring>

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;

using Tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr Tables MakeTables() {
    Tables tables{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) != 0 ? kPolynomial ^ (c >> 1) : c >> 1;
        }
        tables[0][n] = c;
    }
    for (uint32_t n = 0; n < 256; ++n) {
        for (size_t t = 1; t < 8; ++t) {
            tables[t][n] = (tables[t - 1][n] >> 8) ^ tables[0][tables[t - 1][n] & 0xFF];
        }
    }
    return tables;
}

constexpr Tables kTables = MakeTables();

// `state` is the running value, already inverted.
uint32_t UpdateWithTables(uint32_t state, const unsigned char* p, size_t size) {
    while (size >= 8) {
        uint32_t low;
        uint32_t high;
        std::memcpy(&low, p, 4);
        std::memcpy(&high, p + 4, 4);
        low ^= state;
        state = kTables[7][low & 0xFF] ^ kTables[6][(low >> 8) & 0xFF] ^
                kTables[5][(low >> 16) & 0xFF] ^ kTables[4][low >> 24] ^ kTables[3][high & 0xFF] ^
                kTables[2][(high >> 8) & 0xFF] ^ kTables[1][(high >> 16) & 0xFF] ^
                kTables[0][high >> 24];
        p += 8;
        size -= 8;
    }
    while (size-- > 0) {
        state = kTables[0][(state ^ *p++) & 0xFF] ^ (state >> 8);
    }
    return state;
}

// Folding constants for the reflected polynomial, x^n mod P(x) bit-reflected:
// x^(4*128+32), x^(4*128-32) to fold four lanes of 128 bits by 512 bits, x^(128+32) and
// x^(128-32) to fold by 128 bits, x^64 for the step from 96 to 64 bits, then P(x) and the
// Barrett constant floor(x^64 / P(x)).
alignas(16) constexpr uint64_t kFold4[2] = {0x0154442bd4, 0x01c6e41596};
alignas(16) constexpr uint64_t kFold1[2] = {0x01751997d0, 0x00ccaa009e};
alignas(16) constexpr uint64_t kFold64[2] = {0x0163cd6124, 0};
alignas(16) constexpr uint64_t kBarrett[2] = {0x01db710641, 0x01f7011641};

#define DP_FOLDING __attribute__((target("pclmul,sse4.1")))

DP_FOLDING __attribute__((always_inline)) inline __m128i load(const unsigned char* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// lane * x^(n+64) xor lane * x^n, the two halves multiplied apart, plus the next 128 bits.
DP_FOLDING __attribute__((always_inline)) inline __m128i fold(__m128i lane, __m128i constants,
                                                              __m128i next) {
    const __m128i low = _mm_clmulepi64_si128(lane, constants, 0x00);
    const __m128i high = _mm_clmulepi64_si128(lane, constants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

// The 128 folded bits to 64, then by Barrett reduction to the 32 of the CRC.
DP_FOLDING __attribute__((always_inline)) inline __m128i ReduceTo64(__m128i x1, __m128i fold1) {
    const __m128i mask32 = _mm_setr_epi32(~0, 0, ~0, 0);
    __m128i x = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, fold1, 0x10));
    const __m128i fold64 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kFold64));
    return _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, mask32), fold64, 0x00),
                         _mm_srli_si128(x, 4));
}

DP_FOLDING __attribute__((always_inline)) inline uint32_t Reduce(__m128i x1, __m128i fold1) {
    const __m128i mask32 = _mm_setr_epi32(~0, 0, ~0, 0);
    __m128i x = ReduceTo64(x1, fold1);
    const __m128i barrett = _mm_load_si128(reinterpret_cast<const __m128i*>(kBarrett));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, mask32), barrett, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), barrett, 0x00);
    x = _mm_xor_si128(x, t);
    return static_cast<uint32_t>(_mm_extract_epi32(x, 1));
}

// Folds `size` bytes (a multiple of 16, at least 64) into the inverted running value.
// x86 Windows only promises 4-byte stack alignment: the stack is realigned for the spills.
DP_FOLDING __attribute__((force_align_arg_pointer)) uint32_t UpdateWithFolding(
    uint32_t state, const unsigned char* p, size_t size) {
    __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(state)));
    __m128i x2 = load(p + 16);
    __m128i x3 = load(p + 32);
    __m128i x4 = load(p + 48);
    p += 64;
    size -= 64;

    const __m128i fold4 = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold4));
    while (size >= 64) {
        x1 = fold(x1, fold4, load(p));
        x2 = fold(x2, fold4, load(p + 16));
        x3 = fold(x3, fold4, load(p + 32));
        x4 = fold(x4, fold4, load(p + 48));
        p += 64;
        size -= 64;
    }

    const __m128i fold1 = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold1));
    x1 = fold(x1, fold1, x2);
    x1 = fold(x1, fold1, x3);
    x1 = fold(x1, fold1, x4);
    while (size >= 16) {
        x1 = fold(x1, fold1, load(p));
        p += 16;
        size -= 16;
    }

    return Reduce(x1, fold1);
}

bool CanFold() {
    static const bool can = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    }();
    return can;
}

}  // namespace

uint32_t Crc32(uint32_t crc, const void* data, size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    uint32_t state = ~crc;
    if (size >= 64 && CanFold()) {
        const size_t bulk = size & ~size_t{15};
        state = UpdateWithFolding(state, p, bulk);
        p += bulk;
        size -= bulk;
    }
    return ~UpdateWithTables(state, p, size);
}

uint32_t Crc32Tables(uint32_t crc, const void* data, size_t size) {
    return ~UpdateWithTables(~crc, static_cast<const unsigned char*>(data), size);
}

uint32_t Crc32Combine(uint32_t crcA, uint32_t crcB, size_t lengthB) {
    return static_cast<uint32_t>(crc32_combine(crcA, crcB, static_cast<z_off_t>(lengthB)));
}
