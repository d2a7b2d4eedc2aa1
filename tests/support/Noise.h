#pragma once

// Bytes that do not compress, the same for the same seed on every machine and build: the one
// noise of the tests, the probes and the fuzz targets. No platform header.

#include <cstddef>
#include <cstdint>
#include <string>

inline std::string Noise(size_t size, uint32_t seed) {
    std::string out(size, '\0');
    for (char& c : out) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 24);
    }
    return out;
}
