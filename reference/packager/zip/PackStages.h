#pragma once

// The stages of the packing pipeline (PackPipeline.h), each working on one block at a time
// and knowing nothing of threads: reading the files, their digests, encoding a block, and
// writing the blocks into entries. The pipeline runs them side by side.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "PackPipeline.h"

// One block of one file on its way through the pipeline; its buffers are made once.
struct PackBlock {
    enum class State { Free, Reading, Read, Encoding, Encoded };
    State state = State::Free;
    bool digestWanted = false;  // the digest stage has work on it
    size_t file = 0;
    bool first = false;
    bool last = false;
    PackPlatform::Opened opened;     // at a file's first block: what opening it found
    uint32_t readError = 0;          // the file's read failed; the block is its last
    bool readOutOfMemory = false;    // memory ran out reading it; the block is the last read
    uint32_t digestError = 0;        // the file's digest failed
    bool digestOutOfMemory = false;  // memory ran out hashing it
    std::unique_ptr<char[]> input;
    size_t size = 0;
    std::unique_ptr<char[]> dictionary;  // the file's bytes just before the block
    size_t dictionarySize = 0;
    uint32_t crc = 0;    // of the block's own bytes
    uint64_t total = 0;  // at the last block: the file's size, and its digest when pinned
    std::optional<Sha256Digest> sha256;
    std::string output;
    BlockEncoder::Result encoded;
};

// Reads the files one after another, a block at a time, each never beyond the size it had
// when it was opened. One file is open at a time; the destructor closes it.
class BlockReader {
  public:
    BlockReader(PackPlatform& platform, const std::vector<PackItem>& items, size_t blockSize);
    ~BlockReader();
    BlockReader(const BlockReader&) = delete;
    BlockReader& operator=(const BlockReader&) = delete;

    // The next block into `block`; false when every file has been read. A file that cannot
    // be opened gives one block that is its first and last, with `opened.error`.
    bool Next(PackBlock& block);

  private:
    void Fill(PackBlock& block);

    PackPlatform& platform;
    const std::vector<PackItem>& items;
    size_t blockSize;
    bool open = false;
    size_t index = 0;  // the next file to open, or the one open
    uint64_t expected = 0;
    uint64_t total = 0;
    std::string history;  // the last kDeflateWindow bytes read of the open file
};

// Keeps each pinned file's SHA-256, given the blocks in their order.
class BlockDigests {
  public:
    BlockDigests(PackPlatform& platform, const std::vector<PackItem>& items);

    // Whether `block` needs this stage at all.
    bool Wanted(const PackBlock& block) const;
    // Hashes the block; at the file's last block, sets its digest (or digestError, or
    // digestOutOfMemory).
    void Take(PackBlock& block);

  private:
    void Hash(PackBlock& block);

    PackPlatform& platform;
    const std::vector<PackItem>& items;
    std::unique_ptr<PackDigest> digest;
    uint32_t error = 0;
};

// The block's CRC-32 and deflate form; memory that runs out fails the block, nothing more.
void EncodeBlock(BlockEncoder& encoder, PackBlock& block);

// Writes the blocks, in their order, as entries: begun at a file's first block, stored or
// deflated as its blocks decide, ended (or taken back, for a digest that differs) at its last.
class EntryWriter {
  public:
    EntryWriter(ZipStreamWriter& writer, const std::vector<PackItem>& items, size_t blockSize,
                const PackDone& done);

    PackResult Write(PackBlock& block);
    // After a failure: takes the entry begun and not ended out of the archive, so that no byte
    // of a file that was not read whole, or whose digest did not end, stays (a temporary
    // package kept for inspection included).
    ZipStatus Abandon();

  private:
    ZipStatus Begin(const PackBlock& block);
    ZipStatus Data(const PackBlock& block);
    PackResult End(const PackBlock& block);

    ZipStreamWriter& writer;
    const std::vector<PackItem>& items;
    size_t blockSize;
    const PackDone& done;
    bool open = false;             // an entry is begun and not ended
    uint16_t method = kZipStored;  // of the entry being written
    uint32_t crc = 0;              // of its blocks written so far
    std::string framed;            // a block stored whole, in a deflated entry
};
