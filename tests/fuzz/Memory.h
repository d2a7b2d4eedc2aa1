#pragma once

// What the fuzz targets share: archives in memory (MemoryArchive.h) and a property check.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "MemoryArchive.h"

// Stops the target with a message: a property the code documents does not hold.
#define FUZZ_CHECK(condition)                                                                     \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
            __builtin_trap();                                                                     \
        }                                                                                         \
    } while (0)

// The fuzz input, taken a byte or a run of bytes at a time; zeros once it is used up.
struct Input {
    const uint8_t* data;
    size_t size;
    uint8_t Byte() {
        if (size == 0) {
            return 0;
        }
        --size;
        return *data++;
    }
    uint32_t Word() {
        return static_cast<uint32_t>(Byte() << 24 | Byte() << 16 | Byte() << 8 | Byte());
    }
    std::string Bytes(size_t n) {
        n = std::min(n, size);
        std::string out(reinterpret_cast<const char*>(data), n);
        data += n;
        size -= n;
        return out;
    }
};
