#pragma once

// Deflates one stream in blocks on worker threads, as one valid raw deflate stream: each block
// is compressed on its own with the 32 KiB of content before it as its dictionary and ended
// on a byte boundary (a sync flush), the last one ends the stream, and the blocks are written
// in their order as soon as each is ready. The output is the same bytes whatever the number
// of workers, and inflates as one stream. Memory stays bounded: at most two blocks per worker
// are in flight, and nothing else of the content is held.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class Deflater;

class BlockDeflater {
  public:
    // Receives the compressed bytes in order; answers false to stop the stream.
    using Write = std::function<bool(const char* data, size_t size)>;

    // Starts `workers` threads (0: every block is deflated on the caller's thread). When a
    // thread cannot start, the blocks go to those that did, or to the caller's thread.
    BlockDeflater(int level, size_t blockSize, unsigned workers, Write write);
    ~BlockDeflater();
    BlockDeflater(const BlockDeflater&) = delete;
    BlockDeflater& operator=(const BlockDeflater&) = delete;

    // The stream continues output already written for `data` (a sample deflated as the start
    // of the stream and ended with a sync flush): its last 32 KiB prime the first block.
    void Continue(const char* data, size_t size);

    // More content; a full block goes to a worker. False once anything has failed.
    bool Feed(const char* data, size_t size);

    // Deflates the rest as the last block and writes out every block; false when any block
    // could not be deflated or written.
    bool Finish();

    // The threads that run (0 when the caller's thread does the work).
    unsigned Workers() const { return static_cast<unsigned>(threads.size()); }

  private:
    struct Job {
        uint64_t sequence = 0;
        std::string input;
        std::string dictionary;
        bool last = false;
        std::string output;
        bool deflated = false;
    };

    void Submit(bool last);
    void Work();
    bool Compress(Job& job, Deflater& deflater);
    // Writes the finished blocks that are next in order; with `wait`, waits for the next one.
    bool WriteReady(bool wait);

    int level;
    size_t blockSize;
    Write write;
    std::string current;  // content of the block being filled
    std::string history;  // the last 32 KiB before it
    uint64_t submitted = 0;
    uint64_t written = 0;
    bool failed = false;
    std::unique_ptr<Deflater> own;  // the caller's thread's deflate state, without workers

    std::mutex lock;
    std::condition_variable work;  // a job is queued, or the workers are to stop
    std::condition_variable done;  // a job is deflated
    std::deque<std::unique_ptr<Job>> queued;
    std::vector<std::unique_ptr<Job>> finished;  // by sequence, modulo the blocks in flight
    bool stopping = false;
    std::vector<std::thread> threads;
};
