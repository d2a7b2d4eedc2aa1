#include "BlockDeflate.h"

#include <zlib.h>

#include <new>
#include <system_error>

#include "Deflate.h"

namespace {

constexpr size_t kWindow = 32 << 10;  // the most a deflate back-reference reaches

// The last kWindow bytes of `before` followed by `data`.
std::string Tail(const std::string& before, const char* data, size_t size) {
    if (size >= kWindow) {
        return std::string(data + size - kWindow, kWindow);
    }
    const size_t kept = std::min(before.size(), kWindow - size);
    return before.substr(before.size() - kept) + std::string(data, size);
}

}  // namespace

BlockDeflater::BlockDeflater(int levelGiven, size_t size, unsigned workers, Write writer)
    : level(levelGiven), blockSize(size < kWindow ? kWindow : size), write(std::move(writer)) {
    current.reserve(blockSize);
    threads.reserve(workers);
    finished.resize(2 * workers + 1);
    for (unsigned i = 0; i < workers; ++i) {
        try {
            threads.emplace_back(&BlockDeflater::Work, this);
        } catch (const std::system_error&) {
            break;  // the blocks go to the threads that started, or to this one
        } catch (const std::bad_alloc&) {
            failed = true;  // memory ran out: the stream fails, the process goes on
            break;
        }
    }
    if (threads.empty()) {
        own = std::make_unique<Deflater>(level);
        failed = failed || !own->Ready();
    }
}

BlockDeflater::~BlockDeflater() {
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    work.notify_all();
    for (std::thread& thread : threads) {
        thread.join();
    }
}

void BlockDeflater::Continue(const char* data, size_t size) {
    history = Tail(history, data, size);
}

bool BlockDeflater::Feed(const char* data, size_t size) {
    while (size > 0 && !failed) {
        const size_t taken = std::min(size, blockSize - current.size());
        current.append(data, taken);
        data += taken;
        size -= taken;
        if (current.size() == blockSize) {
            Submit(false);
        }
    }
    return !failed;
}

bool BlockDeflater::Finish() {
    if (!failed) {
        Submit(true);
    }
    while (!failed && written < submitted) {
        WriteReady(true);
    }
    return !failed;
}

void BlockDeflater::Submit(bool last) {
    auto job = std::make_unique<Job>();
    job->sequence = submitted++;
    job->dictionary = std::move(history);
    history = Tail(job->dictionary, current.data(), current.size());
    job->input = std::move(current);
    job->last = last;
    current = std::string();
    current.reserve(blockSize);
    if (threads.empty()) {
        job->deflated = Compress(*job, *own);
        std::lock_guard<std::mutex> guard(lock);
        finished[job->sequence % finished.size()] = std::move(job);
    } else {
        // Two blocks per worker in flight: enough to keep every worker busy while the next in
        // order is written, and a bound on the memory.
        while (!failed && submitted - written > 2 * threads.size()) {
            WriteReady(true);
        }
        if (failed) {
            return;
        }
        {
            std::lock_guard<std::mutex> guard(lock);
            queued.push_back(std::move(job));
        }
        work.notify_one();
    }
    WriteReady(false);
}

void BlockDeflater::Work() {
    Deflater deflater(level);
    for (;;) {
        std::unique_ptr<Job> job;
        {
            std::unique_lock<std::mutex> guard(lock);
            work.wait(guard, [this] { return stopping || !queued.empty(); });
            if (stopping) {
                return;
            }
            job = std::move(queued.front());
            queued.pop_front();
        }
        try {
            job->deflated = deflater.Ready() && Compress(*job, deflater);
        } catch (...) {
            job->deflated = false;  // out of memory: the stream fails, the process goes on
        }
        {
            // A slot of its own waits for every block in flight: filing allocates nothing.
            std::lock_guard<std::mutex> guard(lock);
            finished[job->sequence % finished.size()] = std::move(job);
        }
        done.notify_all();
    }
}

// One buffer of deflateBound's size for the whole block: a sync flush that ran out of room
// would repeat its marker.
bool BlockDeflater::Compress(Job& job, Deflater& deflater) {
    z_stream& stream = deflater.Stream();
    if (deflateReset(&stream) != Z_OK ||
        (!job.dictionary.empty() &&
         deflateSetDictionary(&stream, reinterpret_cast<const Bytef*>(job.dictionary.data()),
                              static_cast<uInt>(job.dictionary.size())) != Z_OK)) {
        return false;
    }
    job.output.resize(deflateBound(&stream, static_cast<uLong>(job.input.size())) + 64);
    stream.next_in = reinterpret_cast<Bytef*>(job.input.data());
    stream.avail_in = static_cast<uInt>(job.input.size());
    const int flush = job.last ? Z_FINISH : Z_SYNC_FLUSH;
    size_t produced = 0;
    for (;;) {
        stream.next_out = reinterpret_cast<Bytef*>(job.output.data() + produced);
        stream.avail_out = static_cast<uInt>(job.output.size() - produced);
        const int result = deflate(&stream, flush);
        produced = job.output.size() - stream.avail_out;
        if (result == Z_STREAM_ERROR) {
            return false;
        }
        if (job.last ? result == Z_STREAM_END : stream.avail_in == 0 && stream.avail_out > 0) {
            break;
        }
        job.output.resize(job.output.size() * 2);  // the bound was short: more room, go on
    }
    job.output.resize(produced);
    job.input = std::string();
    return true;
}

bool BlockDeflater::WriteReady(bool wait) {
    // Nothing may follow a block that failed, not even blocks already done behind it.
    while (!failed) {
        std::unique_ptr<Job> next;
        {
            std::unique_lock<std::mutex> guard(lock);
            std::unique_ptr<Job>& slot = finished[written % finished.size()];
            if (wait && written < submitted) {
                done.wait(guard, [&slot] { return slot != nullptr; });
            }
            if (slot == nullptr) {
                return true;
            }
            next = std::move(slot);
        }
        wait = false;
        ++written;
        if (!next->deflated || !write(next->output.data(), next->output.size())) {
            failed = true;
        }
    }
    return false;
}
