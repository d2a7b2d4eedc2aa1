#pragma once

// Archives in memory, for the tests of the ZIP code under Wine and its fuzz targets natively:
// a byte source and a byte sink over a string, and the packing pipeline's platform with files
// held in memory, a stand-in digest and faults to order. Each object keeps its own state, so
// several can live side by side. No platform header.

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "Crc32.h"
#include "PackPipeline.h"
#include "StretchCodec.h"
#include "ZipFormat.h"

class MemorySource : public ByteSource {
  public:
    explicit MemorySource(std::string_view given) : bytes(given) {}
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
    bool ReadAt(uint64_t offset, void* data, size_t size) override {
        if (offset > bytes.size() || size > bytes.size() - offset) {
            return false;
        }
        std::memcpy(data, bytes.data() + offset, size);
        return true;
    }
    bool Sync() override { return ++syncs != failSyncAt; }
    std::string bytes;
    int syncs = 0;
    int failSyncAt = 0;  // the Sync call of this number (from 1) fails
};

// The pipeline's platform over files in memory.
class MemoryPlatform : public PackPlatform {
  public:
    struct File {
        std::string bytes;
        int64_t modified = 0;
        uint32_t openError = 0;            // opening fails with this code
        uint64_t failReadAt = UINT64_MAX;  // a read that reaches this offset fails
        uint32_t readError = 0;
    };

    std::vector<File> files;
    size_t readPiece = 100000;  // the most one Read answers, as a file system may
    // Faults: the StartThread call of this number (from 0) throws, out of memory or not;
    // an Encode of a block that begins with `failEncodeOf` fails, or throws when asked.
    int failThreadStart = -1;
    bool threadStartOutOfMemory = false;
    std::string failEncodeOf;
    bool encodeThrows = false;
    uint32_t digestStartError = 0;   // NewDigest fails with this code
    uint32_t digestUpdateError = 0;  // and each digest's Update with this one
    // Memory runs out (std::bad_alloc) in the Read call of this number (from 0), or in every
    // digest's Update.
    int readThrowsAt = -1;
    bool digestThrows = false;

    int threadsStarted = 0;
    // Files open now (never below zero in a sound run) and digests begun; atomic, as the
    // pipeline's threads ask for them.
    std::atomic<int> openFiles{0};
    std::atomic<int> digestsMade{0};
    std::atomic<int> digestsAlive{0};  // made and not yet destroyed, as handles not closed

    // A digest in the fake's own terms: the CRC-32 and the length, in 32 bytes.
    static Sha256Digest DigestOf(std::string_view bytes) {
        Sha256Digest digest{};
        const uint32_t crc = Crc32(0, bytes.data(), bytes.size());
        std::memcpy(digest.data(), &crc, 4);
        const uint64_t length = bytes.size();
        std::memcpy(digest.data() + 4, &length, 8);
        return digest;
    }

    Opened Open(size_t index) override {
        Opened opened;
        current = &files[index];
        position = 0;
        opened.error = current->openError;
        openFiles += opened.error == 0 ? 1 : 0;
        opened.size = current->bytes.size();
        opened.modified = current->modified;
        return opened;
    }

    bool Read(char* buffer, size_t size, size_t* got, uint32_t* error) override {
        if (readsMade++ == readThrowsAt) {
            throw std::bad_alloc();
        }
        const size_t left = current->bytes.size() - static_cast<size_t>(position);
        const size_t n = std::min({size, left, readPiece});
        if (position + n >= current->failReadAt && n > 0) {
            *error = current->readError;
            return false;
        }
        std::memcpy(buffer, current->bytes.data() + position, n);
        position += n;
        *got = n;
        return true;
    }

    void Close() override {
        current = nullptr;
        --openFiles;
    }

    std::unique_ptr<PackDigest> NewDigest(uint32_t* error) override {
        if (digestStartError != 0) {
            *error = digestStartError;
            return nullptr;
        }
        ++digestsMade;
        return std::make_unique<Digest>(*this);
    }

    std::unique_ptr<BlockEncoder> NewEncoder(int level) override {
        return std::make_unique<Encoder>(*this, level);
    }

    std::thread StartThread(std::function<void()> body) override {
        if (threadsStarted++ == failThreadStart) {
            if (threadStartOutOfMemory) {
                throw std::bad_alloc();
            }
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        }
        return std::thread(std::move(body));
    }

  private:
    class Digest : public PackDigest {
      public:
        explicit Digest(MemoryPlatform& platform)
            : owner(platform),
              failure(platform.digestUpdateError),
              throwing(platform.digestThrows) {
            ++owner.digestsAlive;
        }
        ~Digest() override { --owner.digestsAlive; }
        bool Update(const char* data, size_t size) override {
            if (throwing) {
                throw std::bad_alloc();
            }
            bytes.append(data, size);
            return failure == 0;
        }
        bool Finish(Sha256Digest* digest) override {
            *digest = DigestOf(bytes);
            return true;
        }
        uint32_t Error() const override { return failure; }

      private:
        MemoryPlatform& owner;
        uint32_t failure;
        bool throwing;
        std::string bytes;
    };

    class Encoder : public BlockEncoder {
      public:
        Encoder(MemoryPlatform& platform, int level) : owner(platform), codec(level) {}
        Result Encode(const char* dictionary, size_t dictionarySize, const char* data, size_t size,
                      bool last, std::string* out) override {
            const std::string& marker = owner.failEncodeOf;
            if (!marker.empty() && size >= marker.size() &&
                std::memcmp(data, marker.data(), marker.size()) == 0) {
                if (owner.encodeThrows) {
                    throw std::bad_alloc();
                }
                return Result{};
            }
            return codec.Encode(dictionary, dictionarySize, data, size, last, out);
        }

      private:
        MemoryPlatform& owner;
        StretchCodec codec;
    };

    File* current = nullptr;
    uint64_t position = 0;
    int readsMade = 0;
};
