#pragma once

// What the fuzz targets share: archives in memory (MemoryArchive.h) and a property check.

#include <cstdio>

#include "MemoryArchive.h"

// Stops the target with a message: a property the code documents does not hold.
#define FUZZ_CHECK(condition)                                                                     \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
            __builtin_trap();                                                                     \
        }                                                                                         \
    } while (0)
