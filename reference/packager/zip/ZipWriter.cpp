#include "ZipWriter.h"

#include <algorithm>
#include <bit>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "FileIo.h"
#include "Sha256.h"
#include "WinResources.h"

unsigned ProcessorWorkers() {
    DWORD_PTR allowed = 0, present = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &allowed, &present) && allowed != 0) {
        return std::clamp<unsigned>(std::popcount(static_cast<uint64_t>(allowed)), 1, 16);
    }
    DWORD processors = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    if (processors == 0) {
        SYSTEM_INFO system;
        GetSystemInfo(&system);
        processors = system.dwNumberOfProcessors;
    }
    return std::clamp<unsigned>(processors, 1, 16);
}

namespace {

// CNG's SHA-256 as the pipeline's digest.
class CngDigest : public PackDigest {
  public:
    bool Update(const char* data, size_t size) override { return sha.Update(data, size); }
    bool Finish(Sha256Digest* digest) override { return sha.Finish(digest); }
    uint32_t Error() const override { return static_cast<uint32_t>(sha.Status()); }
    const Sha256& Hash() const { return sha; }

  private:
    Sha256 sha;
};

// The files of one AddFiles call (opened by the caller), the platform's digest, the library's
// encoder and threads.
class FilePlatform : public PackPlatform {
  public:
    explicit FilePlatform(const std::vector<PackItem>& given) : files(given) {}

    Opened Open(size_t index) override {
        Opened opened;
        file = static_cast<HANDLE>(files[index].file);
        LARGE_INTEGER size;
        if (!GetFileSizeEx(file, &size)) {
            opened.error = GetLastError();
            return opened;
        }
        opened.size = static_cast<uint64_t>(size.QuadPart);
        opened.modified = LastWriteTime(file);
        return opened;
    }

    bool Read(char* buffer, size_t size, size_t* got, uint32_t* error) override {
        DWORD read = 0;
        if (!ReadFile(file, buffer, static_cast<DWORD>(std::min(size, kFilePiece)), &read,
                      nullptr)) {
            *error = GetLastError();
            return false;
        }
        *got = read;
        return true;
    }

    void Close() override { file = INVALID_HANDLE_VALUE; }  // the caller's to close

    std::unique_ptr<PackDigest> NewDigest(uint32_t* error) override {
        auto digest = std::make_unique<CngDigest>();
        if (digest->Hash().Status() != 0) {
            *error = digest->Error();
            return nullptr;
        }
        return digest;
    }

    std::unique_ptr<BlockEncoder> NewEncoder(int level) override {
        return std::make_unique<StretchCodec>(level);
    }

    std::thread StartThread(std::function<void()> body) override {
        return std::thread(std::move(body));
    }

  private:
    const std::vector<PackItem>& files;
    HANDLE file = INVALID_HANDLE_VALUE;
};

// Flushes a file on a thread of its own when asked, while its owner goes on writing. Under
// Wine the flush runs beside the writes; on Windows, where a synchronous handle takes one
// operation at a time, it costs the writer what a flush at the end would have.
class BackgroundFlush {
  public:
    BackgroundFlush(HANDLE target, FlushFile flush) : file(target), flushFile(std::move(flush)) {}
    ~BackgroundFlush() { Finish(); }
    BackgroundFlush(const BackgroundFlush&) = delete;
    BackgroundFlush& operator=(const BackgroundFlush&) = delete;

    // Asks for a flush (one more, if one is running); false when an earlier one failed
    // (Error() has why). Without a thread of its own it does nothing: the caller's last flush
    // does it all.
    bool Ask();
    DWORD Error();
    // Waits for the flushes asked for, stops the thread and answers the error of the first
    // that failed, or 0: no failure goes unseen because no later Ask came to read it.
    DWORD Finish();

  private:
    void Run();

    HANDLE file;
    FlushFile flushFile;
    std::mutex lock;
    std::condition_variable asked;
    bool pending = false;
    bool stopping = false;
    DWORD error = 0;
    std::thread thread;
};

}  // namespace

// An open file as a ByteSink, keeping the error code of a failed write.
class ZipWriter::FileSink : public ByteSink {
  public:
    FileSink(HANDLE target, uint64_t every, FlushFile flush)
        : file(target), flushEvery(every), flushFile(flush), flusher(target, flush) {}
    bool Write(const void* data, size_t size) override;
    bool WriteAt(uint64_t offset, const void* data, size_t size) override;
    bool Truncate(uint64_t size) override;
    bool ReadAt(uint64_t offset, void* data, size_t size) override;
    bool Sync() override;
    DWORD Error() const { return error; }

  private:
    // Runs `access` at `offset`, then goes back to the end.
    template <typename Access>
    bool At(uint64_t offset, Access access);

    HANDLE file;
    uint64_t flushEvery;
    FlushFile flushFile;
    BackgroundFlush flusher;
    uint64_t unflushed = 0;
    DWORD error = 0;
};

DWORD FlushToDisk(HANDLE file) {
    return FlushFileBuffers(file) ? 0 : GetLastError();
}

DWORD BackgroundFlush::Finish() {
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    asked.notify_one();
    if (thread.joinable()) {
        thread.join();
    }
    return Error();
}

bool BackgroundFlush::Ask() {
    std::unique_lock<std::mutex> guard(lock);
    if (error != 0) {
        return false;
    }
    if (!thread.joinable()) {
        try {
            thread = std::thread(&BackgroundFlush::Run, this);
        } catch (const std::system_error&) {
            return true;  // the caller's last flush does it all
        } catch (const std::bad_alloc&) {
            return true;
        }
    }
    pending = true;
    guard.unlock();
    asked.notify_one();
    return true;
}

DWORD BackgroundFlush::Error() {
    std::lock_guard<std::mutex> guard(lock);
    return error;
}

void BackgroundFlush::Run() {
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        asked.wait(guard, [this] { return stopping || pending; });
        if (!pending) {
            return;  // stopping, with nothing asked for: the caller's last flush follows
        }
        pending = false;
        guard.unlock();
        const DWORD failed = flushFile(file);
        guard.lock();
        error = error != 0 ? error : failed;
    }
}

template <typename Access>
bool ZipWriter::FileSink::At(uint64_t at, Access access) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(at);
    LARGE_INTEGER end;
    if (!SetFilePointerEx(file, LARGE_INTEGER{}, &end, FILE_CURRENT) ||
        !SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) {
        error = GetLastError();
        return false;
    }
    const bool ok = access();
    if (!SetFilePointerEx(file, end, nullptr, FILE_BEGIN)) {
        error = GetLastError();
        return false;
    }
    return ok;
}

bool ZipWriter::FileSink::Write(const void* data, size_t size) {
    unflushed += size;
    if (!WriteExactly(file, data, size, &error)) {
        return false;
    }
    // Written through while the others go on reading and encoding: the final flush, which
    // nothing overlaps, is left with little to do.
    if (flushEvery != 0 && unflushed >= flushEvery) {
        unflushed = 0;
        if (!flusher.Ask()) {
            error = flusher.Error();
            return false;
        }
    }
    return true;
}

bool ZipWriter::FileSink::WriteAt(uint64_t at, const void* data, size_t size) {
    return At(at, [&] { return Write(data, size); });
}

bool ZipWriter::FileSink::ReadAt(uint64_t at, void* data, size_t size) {
    return At(at, [&] { return ReadExactly(file, data, size, &error); });
}

bool ZipWriter::FileSink::Sync() {
    error = flusher.Finish();
    if (error == 0) {
        error = flushFile(file);
    }
    return error == 0;
}

bool ZipWriter::FileSink::Truncate(uint64_t size) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) {
        error = GetLastError();
        return false;
    }
    return true;
}

ZipWriter::ZipWriter(HANDLE target, const ZipOptions& given, const ZipLimits& limits,
                     FlushFile flush)
    : options(given),
      sink(std::make_unique<FileSink>(target, given.flushEvery, flush)),
      writer(*sink, given, limits) {}

ZipWriter::~ZipWriter() = default;

ZipStatus ZipWriter::Noted(ZipStatus status) {
    if (status == ZipStatus::WriteFailed) {
        systemError = sink->Error();
    }
    return status;
}

ZipStatus ZipWriter::AddBytes(const std::string& name, const std::string& data, int64_t modified) {
    return Noted(writer.AddBytes(name, data, modified));
}

ZipStatus ZipWriter::Finish() {
    return Noted(writer.Finish());
}

PackResult ZipWriter::AddFiles(const std::vector<PackItem>& files, const PackDone& done) {
    FilePlatform platform(files);
    PackResult result = PackFiles(writer, platform, options, files, done);
    if (result.status == ZipStatus::WriteFailed) {
        result.error = sink->Error();
    }
    systemError = result.error;
    return result;
}

ZipStatus ZipWriter::AddFile(const std::string& name, const std::wstring& path) {
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        systemError = GetLastError();
        return ZipStatus::OpenFailed;
    }
    const std::vector<PackItem> files{{name, file.Get(), {}}};
    PackOutcome outcome;
    const PackResult result = AddFiles(files, [&outcome](size_t, const PackOutcome& given) {
        outcome = given;
        return true;
    });
    if (result.status != ZipStatus::Ok) {
        return result.status;
    }
    if (outcome.kind == PackOutcome::Kind::OpenFailed) {
        systemError = outcome.error;
        return ZipStatus::ReadFailed;
    }
    return ZipStatus::Ok;
}
