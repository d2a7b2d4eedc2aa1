#include "PackPipeline.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>

#include "Crc32.h"

namespace {

// One block of one file on its way through the pipeline. The reading side fills it, a worker
// encodes it, the writing side writes it and gives it back; its buffers are made once.
struct Block {
    enum class State { Free, Reading, Read, Encoding, Encoded };
    State state = State::Free;
    size_t file = 0;
    bool first = false;
    bool last = false;
    PackPlatform::Opened opened;  // at a file's first block: what opening it found
    uint32_t readError = 0;       // the file's read (or digest) failed; the block is its last
    std::unique_ptr<char[]> input;
    size_t size = 0;
    std::unique_ptr<char[]> dictionary;  // the file's bytes just before the block
    size_t dictionarySize = 0;
    uint32_t crc = 0;    // of the block's own bytes, by the worker
    uint64_t total = 0;  // at the last block: the file's size and digest
    std::optional<Sha256Digest> sha256;
    std::string output;
    BlockEncoder::Result encoded;
};

// What the reading side knows of the file it is reading.
struct ReadingFile {
    bool open = false;
    size_t index = 0;  // the next file to open, or the one open
    uint64_t expected = 0;
    uint64_t total = 0;
    std::unique_ptr<PackDigest> digest;
    std::string history;  // its last kDeflateWindow bytes read
};

// An entry written stored so far, block by block, becomes deflated: each of its blocks is
// framed as stored deflate blocks, as the encoder frames a block that does not shrink, so that
// the bytes are the same as if the entry had been deflated from its start.
ZipStreamWriter::Conversion StoredToDeflated(size_t blockSize) {
    ZipStreamWriter::Conversion conversion;
    conversion.method = kZipDeflated;
    conversion.piece = blockSize;
    conversion.sizeOf = [](size_t length) { return FramedSize(length); };
    conversion.convert = [](const char* data, size_t length, std::string* out) {
        FrameStored(data, length, false, out);
    };
    return conversion;
}

// What the writing side knows of the entry it is writing.
struct WritingEntry {
    uint16_t method = kZipStored;
    uint32_t crc = 0;  // of the blocks written so far
};

class Pipeline {
  public:
    Pipeline(ZipStreamWriter& archive, PackPlatform& host, const PackOptions& given,
             const std::vector<PackItem>& files, const PackDone& heard)
        : writer(archive), platform(host), options(given), items(files), done(heard) {}
    ~Pipeline() { Stop(); }

    PackResult Run();

  private:
    bool Start();
    void Stop();
    void ReaderLoop();
    void WorkerLoop(BlockEncoder& encoder);
    static void Encode(BlockEncoder& encoder, Block& block);
    bool ReadNext(Block& block);
    void Fill(Block& block);
    void Finish(Block& block);
    Block* NextToWrite(size_t sequence);
    PackResult Write(Block& block);
    PackResult EndFile(Block& block);

    ZipStreamWriter& writer;
    PackPlatform& platform;
    const PackOptions& options;
    const std::vector<PackItem>& items;
    const PackDone& done;

    std::vector<Block> blocks;  // a ring, by sequence number
    ReadingFile reading;
    WritingEntry entry;
    std::string framed;                        // a block stored whole, in a deflated entry
    std::unique_ptr<BlockEncoder> ownEncoder;  // the writing thread's, without workers

    std::mutex lock;
    std::condition_variable readable;  // a block was read, or the pipeline stops
    std::condition_variable encoded;   // a block was encoded (or read, without workers)
    std::condition_variable freed;     // a block was written and is free again
    size_t readCount = 0;              // blocks the reading side has filled
    size_t claimed = 0;                // blocks the workers have taken
    bool readAll = false;              // every file has been read
    bool stopping = false;
    std::thread reader;
    std::vector<std::thread> workers;
};

PackResult Pipeline::Run() {
    PackResult result;
    try {
        blocks.resize(2 * std::max(options.workers, 1u) + 2);
        for (Block& block : blocks) {
            block.input.reset(new char[options.blockSize]);
            block.dictionary.reset(new char[kDeflateWindow]);
        }
        if (!Start()) {
            result.status = ZipStatus::OutOfMemory;
            return result;
        }
        for (size_t sequence = 0; result.status == ZipStatus::Ok; ++sequence) {
            Block* block = NextToWrite(sequence);
            if (block == nullptr) {
                break;
            }
            result = Write(*block);
            {
                std::lock_guard<std::mutex> guard(lock);
                block->state = Block::State::Free;
            }
            freed.notify_all();
        }
    } catch (const std::bad_alloc&) {
        result.status = ZipStatus::OutOfMemory;
    }
    Stop();
    return result;
}

// The reading thread and the workers. A thread the system cannot start leaves its work to
// the writing thread; memory that runs out fails the archive, and the process goes on.
bool Pipeline::Start() {
    try {
        reader = platform.StartThread([this] { ReaderLoop(); });
    } catch (const std::system_error&) {
    } catch (const std::bad_alloc&) {
        return false;
    }
    workers.reserve(options.workers);
    for (unsigned i = 0; i < options.workers; ++i) {
        try {
            std::unique_ptr<BlockEncoder> encoder = platform.NewEncoder(options.level);
            BlockEncoder* raw = encoder.release();
            workers.push_back(platform.StartThread([this, raw] {
                const std::unique_ptr<BlockEncoder> owned(raw);
                WorkerLoop(*owned);
            }));
        } catch (const std::system_error&) {
            break;
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    if (workers.empty()) {
        ownEncoder = platform.NewEncoder(options.level);
    }
    return true;
}

void Pipeline::Stop() {
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    readable.notify_all();
    freed.notify_all();
    if (reader.joinable()) {
        reader.join();
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    workers.clear();
    if (reading.open) {
        platform.Close();
        reading.open = false;
    }
}

void Pipeline::ReaderLoop() {
    for (;;) {
        Block* block = nullptr;
        {
            std::unique_lock<std::mutex> guard(lock);
            Block& next = blocks[readCount % blocks.size()];
            freed.wait(guard, [&] { return stopping || next.state == Block::State::Free; });
            if (stopping) {
                return;
            }
            block = &next;
            block->state = Block::State::Reading;
        }
        const bool more = ReadNext(*block);
        {
            std::lock_guard<std::mutex> guard(lock);
            if (more) {
                block->state = Block::State::Read;
                ++readCount;
            } else {
                block->state = Block::State::Free;
                readAll = true;
            }
        }
        readable.notify_all();
        encoded.notify_all();
        if (!more) {
            return;
        }
    }
}

void Pipeline::WorkerLoop(BlockEncoder& encoder) {
    for (;;) {
        Block* block = nullptr;
        {
            std::unique_lock<std::mutex> guard(lock);
            readable.wait(guard, [&] { return stopping || claimed < readCount; });
            if (stopping) {
                return;
            }
            block = &blocks[claimed++ % blocks.size()];
            block->state = Block::State::Encoding;
        }
        Encode(encoder, *block);
        {
            std::lock_guard<std::mutex> guard(lock);
            block->state = Block::State::Encoded;
        }
        encoded.notify_all();
    }
}

// A block's checksum and deflate form, on whichever thread encodes it: what the reading
// thread does not do, since it may be busy enough with a digest.
void Pipeline::Encode(BlockEncoder& encoder, Block& block) {
    block.crc = Crc32(0, block.input.get(), block.size);
    try {
        block.encoded = encoder.Encode(block.dictionary.get(), block.dictionarySize,
                                       block.input.get(), block.size, block.last, &block.output);
    } catch (const std::bad_alloc&) {
        block.encoded = BlockEncoder::Result{};  // fails the archive, not the process
    }
}

// The next block of the files, into `block`; false when every file has been read.
bool Pipeline::ReadNext(Block& block) {
    block.first = !reading.open;
    block.last = false;
    block.readError = 0;
    block.size = 0;
    block.sha256.reset();
    if (!reading.open) {
        if (reading.index == items.size()) {
            return false;
        }
        block.opened = platform.Open(reading.index);
        if (block.opened.error != 0) {
            block.file = reading.index++;
            block.last = true;
            return true;
        }
        reading.open = true;
        reading.expected = block.opened.size;
        reading.total = 0;
        reading.history.clear();
        reading.digest.reset();
        if (items[reading.index].pinned) {
            reading.digest = platform.NewDigest(&block.readError);
        }
    }
    block.file = reading.index;
    Fill(block);
    if (block.last) {
        Finish(block);
    }
    return true;
}

// The block's bytes: up to a block size of the file, never beyond the size it had when it
// was opened. The block is the file's last when that size is reached, the file ends sooner,
// or a read fails.
void Pipeline::Fill(Block& block) {
    block.dictionarySize = reading.history.size();
    std::memcpy(block.dictionary.get(), reading.history.data(), reading.history.size());
    const size_t want = static_cast<size_t>(
        std::min<uint64_t>(options.blockSize, reading.expected - reading.total));
    bool ended = false;
    while (block.readError == 0 && block.size < want && !ended) {
        size_t got = 0;
        if (!platform.Read(block.input.get() + block.size, want - block.size, &got,
                           &block.readError)) {
            break;
        }
        ended = got == 0;
        block.size += got;
    }
    const char* data = block.input.get();
    if (reading.digest && block.readError == 0 && !reading.digest->Update(data, block.size)) {
        block.readError = reading.digest->Error();
    }
    reading.total += block.size;
    if (block.size >= kDeflateWindow) {
        reading.history.assign(data + block.size - kDeflateWindow, kDeflateWindow);
    } else {
        reading.history.append(data, block.size);
        reading.history.erase(
            0, reading.history.size() - std::min(reading.history.size(), kDeflateWindow));
    }
    block.last =
        block.readError != 0 || ended || block.size < want || reading.total == reading.expected;
}

// The file's last block carries what the whole file was; the file is closed.
void Pipeline::Finish(Block& block) {
    block.total = reading.total;
    if (reading.digest && block.readError == 0) {
        Sha256Digest digest;
        if (reading.digest->Finish(&digest)) {
            block.sha256 = digest;
        } else {
            block.readError = reading.digest->Error();
        }
    }
    platform.Close();
    reading.open = false;
    ++reading.index;
}

// The block to write next, once encoded; null after the last. Without a reading thread or
// workers, the writing thread reads or encodes it itself.
Block* Pipeline::NextToWrite(size_t sequence) {
    Block& block = blocks[sequence % blocks.size()];
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        if (block.state == Block::State::Encoded) {
            return &block;
        }
        if (readAll && sequence >= readCount) {
            return nullptr;
        }
        if (!reader.joinable() && sequence == readCount && block.state == Block::State::Free) {
            guard.unlock();
            const bool more = ReadNext(block);
            guard.lock();
            readAll = !more;
            if (more) {
                block.state = Block::State::Read;
                ++readCount;
            }
            readable.notify_all();
            continue;
        }
        if (workers.empty() && block.state == Block::State::Read) {
            ++claimed;
            guard.unlock();
            Encode(*ownEncoder, block);
            guard.lock();
            block.state = Block::State::Encoded;
            continue;
        }
        encoded.wait(guard);
    }
}

PackResult Pipeline::Write(Block& block) {
    const PackItem& item = items[block.file];
    PackResult result;
    result.file = block.file;
    if (block.first && block.opened.error != 0) {
        PackOutcome outcome;
        outcome.kind = PackOutcome::Kind::OpenFailed;
        outcome.error = block.opened.error;
        result.status = done(block.file, outcome) ? ZipStatus::Ok : ZipStatus::Stopped;
        return result;
    }
    if (block.readError != 0) {
        result.status = ZipStatus::ReadFailed;
        result.error = block.readError;
        return result;
    }
    if (!block.encoded.ok) {
        result.status = ZipStatus::OutOfMemory;
        return result;
    }
    entry.crc = block.first ? block.crc : Crc32Combine(entry.crc, block.crc, block.size);
    if (block.first) {
        entry.method = block.encoded.deflated ? kZipDeflated : kZipStored;
        result.status = writer.BeginEntry(
            item.name, entry.method, block.opened.size >= kZip64FromSize, block.opened.modified);
    } else if (entry.method == kZipStored && block.encoded.deflated) {
        entry.method = kZipDeflated;
        result.status = writer.ConvertEntry(StoredToDeflated(options.blockSize));
    }
    if (result.status == ZipStatus::Ok) {
        if (entry.method == kZipStored) {
            result.status = writer.Data(block.input.get(), block.size);
        } else if (block.encoded.deflated) {
            result.status = writer.Data(block.output.data(), block.output.size());
        } else {
            framed.clear();
            FrameStored(block.input.get(), block.size, block.last, &framed);
            result.status = writer.Data(framed.data(), framed.size());
        }
    }
    if (result.status == ZipStatus::Ok && block.last) {
        return EndFile(block);
    }
    return result;
}

// Checks the file's digest, ends or takes back its entry and says what became of it.
PackResult Pipeline::EndFile(Block& block) {
    const PackItem& item = items[block.file];
    PackResult result;
    result.file = block.file;
    PackOutcome outcome;
    outcome.size = block.total;
    outcome.sha256 = block.sha256;
    if (item.pinned && block.sha256 != item.pinned) {
        outcome.kind = PackOutcome::Kind::Mismatch;
        result.status = writer.AbandonEntry();
    } else {
        result.status = writer.EndEntry(entry.crc, block.total);
    }
    if (result.status == ZipStatus::Ok && !done(block.file, outcome)) {
        result.status = ZipStatus::Stopped;
    }
    return result;
}

}  // namespace

PackResult PackFiles(ZipStreamWriter& writer, PackPlatform& platform, const PackOptions& options,
                     const std::vector<PackItem>& items, const PackDone& done) {
    Pipeline pipeline(writer, platform, options, items, done);
    return pipeline.Run();
}
