#pragma once

// The byte source and sink of the fuzz targets: memory.

#include <cstdio>
#include <cstring>
#include <string>

#include "ZipFormat.h"

class MemorySource : public ByteSource {
  public:
    explicit MemorySource(std::string_view bytes) : bytes(bytes) {}
    uint64_t Size() const override { return bytes.size(); }
    bool ReadAt(uint64_t offset, void* buffer, size_t size) override {
        if (offset > bytes.size() || size > bytes.size() - offset) {
            return false;
        }
        if (size > 0) {
            std::memcpy(buffer, bytes.data() + offset, size);
        }
        return true;
    }

  private:
    std::string_view bytes;
};

class MemorySink : public ByteSink {
  public:
    bool Write(const void* data, size_t size) override {
        bytes.append(static_cast<const char*>(data), size);
        return true;
    }
    bool WriteAt(uint64_t offset, const void* data, size_t size) override {
        if (offset > bytes.size() || size > bytes.size() - offset) {
            return false;
        }
        bytes.replace(offset, size, static_cast<const char*>(data), size);
        return true;
    }
    bool Truncate(uint64_t size) override {
        if (size > bytes.size()) {
            return false;
        }
        bytes.resize(size);
        return true;
    }
    std::string bytes;
};

// Stops the target with a message: a property the code documents does not hold.
#define FUZZ_CHECK(condition)                                                                     \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
            __builtin_trap();                                                                     \
        }                                                                                         \
    } while (0)
