#include "PackPipeline.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>

#include "PackStages.h"

namespace {

using State = PackBlock::State;

// The stages side by side: a reading thread, a digest thread when a file is pinned (so that
// the digest, the slowest work of all, waits for no read), the workers, and the calling
// thread writing. Blocks go round a ring, by sequence number: the reader fills the free ones
// in order, the workers claim them in order, and the writer takes them in order once encoded
// and hashed, and frees them. A thread that cannot start leaves its stage to the writer.
class Pipeline {
  public:
    Pipeline(ZipStreamWriter& writer, PackPlatform& host, const ZipOptions& given,
             const std::vector<PackItem>& files, const PackDone& done)
        : platform(host),
          options(given),
          items(files),
          reading(host, files, given.blockSize),
          digests(host, files),
          writing(writer, files, given.blockSize, done) {}
    ~Pipeline() { Stop(); }

    PackResult Run();

  private:
    bool Start();
    void StartThread(std::thread* thread, std::function<void()> body);
    void Stop();
    void ReaderLoop();
    void DigestLoop();
    void WorkerLoop(BlockEncoder& encoder);
    bool ReadInto(PackBlock& block);
    PackBlock* NextToWrite(size_t sequence);
    bool Help(PackBlock& block, size_t sequence, std::unique_lock<std::mutex>& guard);

    PackPlatform& platform;
    const ZipOptions& options;
    const std::vector<PackItem>& items;
    BlockReader reading;
    BlockDigests digests;
    EntryWriter writing;
    std::vector<PackBlock> blocks;
    std::unique_ptr<BlockEncoder> ownEncoder;  // the writing thread's, without workers

    std::mutex lock;
    std::condition_variable readable;  // a block was read, or the pipeline stops
    std::condition_variable ready;     // a block was encoded or hashed (or read)
    std::condition_variable freed;     // a block was written and is free again
    size_t readCount = 0;              // blocks filled
    size_t claimed = 0;                // blocks taken to encode
    size_t hashedCount = 0;            // blocks through the digest stage
    bool readAll = false;              // every file has been read
    bool stopping = false;
    bool outOfMemory = false;  // a thread could not start for want of memory
    std::thread reader, hasher;
    std::vector<std::thread> workers;
};

PackResult Pipeline::Run() {
    PackResult result;
    try {
        blocks.resize(2 * std::max(options.workers, 1u) + 2);
        for (PackBlock& block : blocks) {
            block.input.reset(new char[options.blockSize]);
            block.dictionary.reset(new char[kDeflateWindow]);
        }
        if (!Start()) {
            result.status = ZipStatus::OutOfMemory;
            return result;
        }
        for (size_t sequence = 0; result.status == ZipStatus::Ok; ++sequence) {
            PackBlock* block = NextToWrite(sequence);
            if (block == nullptr) {
                break;
            }
            result.file = block->file;
            result = writing.Write(*block);
            {
                std::lock_guard<std::mutex> guard(lock);
                block->state = State::Free;
            }
            freed.notify_all();
        }
    } catch (const std::bad_alloc&) {
        result.status = ZipStatus::OutOfMemory;  // for the file of the block being written
    }
    if (result.status != ZipStatus::Ok && writing.Abandon() != ZipStatus::Ok) {
        result.status = ZipStatus::WriteFailed;
    }
    return result;  // the destructor stops the threads, on every way out
}

// A thread the system cannot start leaves its work to the writing thread; memory that runs
// out fails the archive, and the process goes on.
void Pipeline::StartThread(std::thread* thread, std::function<void()> body) {
    try {
        *thread = platform.StartThread(std::move(body));
    } catch (const std::system_error&) {
    } catch (const std::bad_alloc&) {
        outOfMemory = true;
    }
}

bool Pipeline::Start() {
    StartThread(&reader, [this] { ReaderLoop(); });
    if (std::any_of(items.begin(), items.end(), [](const PackItem& i) { return i.pinned; })) {
        StartThread(&hasher, [this] { DigestLoop(); });
    }
    workers.reserve(options.workers);
    for (unsigned i = 0; i < options.workers && !outOfMemory; ++i) {
        std::shared_ptr<BlockEncoder> encoder = platform.NewEncoder(options.level);
        std::thread worker;
        StartThread(&worker, [this, encoder] { WorkerLoop(*encoder); });
        if (!worker.joinable()) {
            break;
        }
        workers.push_back(std::move(worker));
    }
    if (workers.empty()) {
        ownEncoder = platform.NewEncoder(options.level);
    }
    return !outOfMemory;
}

void Pipeline::Stop() {
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    readable.notify_all();
    freed.notify_all();
    for (std::thread* thread : {&reader, &hasher}) {
        if (thread->joinable()) {
            thread->join();
        }
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    workers.clear();
}

// Fills `block` with the next one, outside the lock; false after the last. Memory that runs
// out ends the reading there: the block goes on to the writer, which fails the archive for it.
bool Pipeline::ReadInto(PackBlock& block) {
    bool more = true;
    try {
        more = reading.Next(block);
    } catch (const std::bad_alloc&) {
        block.readOutOfMemory = true;
    }
    std::lock_guard<std::mutex> guard(lock);
    if (more) {
        block.state = State::Read;
        block.digestWanted = !block.readOutOfMemory && digests.Wanted(block);
        ++readCount;
        readAll = block.readOutOfMemory;
    } else {
        block.state = State::Free;
        readAll = true;
    }
    return more && !block.readOutOfMemory;
}

void Pipeline::ReaderLoop() {
    for (bool more = true; more;) {
        PackBlock* block = nullptr;
        {
            std::unique_lock<std::mutex> guard(lock);
            PackBlock& next = blocks[readCount % blocks.size()];
            freed.wait(guard, [&] { return stopping || next.state == State::Free; });
            if (stopping) {
                return;
            }
            block = &next;
            block->state = State::Reading;
        }
        more = ReadInto(*block);
        readable.notify_all();
        ready.notify_all();
    }
}

// Takes every block in order, hashing those of pinned files: no block is written, and so
// none given back to the reader, before this stage has passed it.
void Pipeline::DigestLoop() {
    for (;;) {
        PackBlock* block = nullptr;
        {
            std::unique_lock<std::mutex> guard(lock);
            readable.wait(guard, [&] { return stopping || hashedCount < readCount; });
            if (stopping) {
                return;
            }
            block = &blocks[hashedCount % blocks.size()];
        }
        if (block->digestWanted) {
            digests.Take(*block);
        }
        {
            std::lock_guard<std::mutex> guard(lock);
            ++hashedCount;
        }
        ready.notify_all();
    }
}

void Pipeline::WorkerLoop(BlockEncoder& encoder) {
    for (;;) {
        PackBlock* block = nullptr;
        {
            std::unique_lock<std::mutex> guard(lock);
            readable.wait(guard, [&] { return stopping || claimed < readCount; });
            if (stopping) {
                return;
            }
            block = &blocks[claimed++ % blocks.size()];
            block->state = State::Encoding;
        }
        EncodeBlock(encoder, *block);
        {
            std::lock_guard<std::mutex> guard(lock);
            block->state = State::Encoded;
        }
        ready.notify_all();
    }
}

// The block to write next, once encoded and past the digest stage; null after the last.
PackBlock* Pipeline::NextToWrite(size_t sequence) {
    PackBlock& block = blocks[sequence % blocks.size()];
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        if (block.state == State::Encoded && sequence < hashedCount) {
            return &block;
        }
        if (readAll && sequence >= readCount) {
            return nullptr;
        }
        if (!Help(block, sequence, guard)) {
            ready.wait(guard);
        }
    }
}

// Does for `block` the work of a stage whose thread did not start; false when there is none
// to do. Called and returning with the lock held.
bool Pipeline::Help(PackBlock& block, size_t sequence, std::unique_lock<std::mutex>& guard) {
    if (!reader.joinable() && sequence == readCount && block.state == State::Free) {
        block.state = State::Reading;
        guard.unlock();
        ReadInto(block);
        readable.notify_all();
    } else if (!hasher.joinable() && sequence == hashedCount && block.state != State::Reading &&
               block.state != State::Free) {
        if (block.digestWanted) {
            guard.unlock();
            digests.Take(block);
            guard.lock();
        }
        ++hashedCount;
        return true;
    } else if (workers.empty() && block.state == State::Read) {
        ++claimed;
        guard.unlock();
        EncodeBlock(*ownEncoder, block);
        guard.lock();
        block.state = State::Encoded;
        return true;
    } else {
        return false;
    }
    guard.lock();
    return true;
}

}  // namespace

PackResult PackFiles(ZipStreamWriter& writer, PackPlatform& platform, const ZipOptions& options,
                     const std::vector<PackItem>& items, const PackDone& done) {
    Pipeline pipeline(writer, platform, options, items, done);
    return pipeline.Run();
}
