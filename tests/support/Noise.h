#pragma once

// Bytes that do not compress, the same for the same seed on every machine and build: the one
// noise of the tests, the probes, the fuzz targets and the bench. No platform header.

#include <cstddef>
#include <cstdint>
#include <string>

// `size` bytes of noise: nothing deflates them.
inline std::string Noise(size_t size, uint32_t seed) {
    std::string out(size, '\0');
    for (char& c : out) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 24);
    }
    return out;
}

// `size` letters from 'a' on, drawn at random from the first 2^`bits` (1 to 5): noise that
// deflate shrinks to about `bits` of every 8 bits, as text does.
inline std::string NoiseLetters(size_t size, uint32_t seed, int bits) {
    std::string out(size, '\0');
    for (char& c : out) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>('a' + (seed >> (32 - bits)));
    }
    return out;
}
