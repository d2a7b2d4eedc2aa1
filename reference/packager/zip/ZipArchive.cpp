#include "ZipArchive.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <new>
#include <system_error>
#include <optional>

#include "Sha256.h"

namespace {

// The most one ReadFile or WriteFile is asked for: DWORD counts, and pieces this large cost
// nothing more than one.
constexpr size_t kPiece = size_t{1} << 30;

// Reads exactly `size` bytes from the file's position; false with the platform's code in
// `*error` (ERROR_HANDLE_EOF when the file ends first).
bool ReadExactly(HANDLE file, void* buffer, size_t size, DWORD* error) {
    auto* out = static_cast<char*>(buffer);
    while (size > 0) {
        DWORD got = 0;
        if (!ReadFile(file, out, static_cast<DWORD>(std::min(size, kPiece)), &got, nullptr)) {
            *error = GetLastError();
            return false;
        }
        if (got == 0) {
            *error = ERROR_HANDLE_EOF;
            return false;
        }
        out += got;
        size -= got;
    }
    return true;
}

// Writes all `size` bytes at the file's position; false with the platform's code in `*error`.
bool WriteExactly(HANDLE file, const void* data, size_t size, DWORD* error) {
    const auto* in = static_cast<const char*>(data);
    while (size > 0) {
        DWORD done = 0;
        if (!WriteFile(file, in, static_cast<DWORD>(std::min(size, kPiece)), &done, nullptr)) {
            *error = GetLastError();
            return false;
        }
        if (done == 0) {  // a success that wrote nothing: the last error says nothing of it
            *error = ERROR_WRITE_FAULT;
            return false;
        }
        in += done;
        size -= done;
    }
    return true;
}

}  // namespace

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

int64_t LastWriteTime(HANDLE file) {
    FILETIME written{};
    return GetFileTime(file, nullptr, nullptr, &written) ? UnixTime(written) : 0;
}

}  // namespace

int64_t UnixTime(const FILETIME& time) {
    const int64_t ticks =
        static_cast<int64_t>((uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime) -
        116444736000000000;  // 100 ns ticks from 1601 to 1970
    return ticks >= 0 ? ticks / 10000000 : -((-ticks + 9999999) / 10000000);
}

// --- Reader -------------------------------------------------------------------------------

ZipStatus ZipReader::FileSource::Open(const std::wstring& path) {
    size = 0;
    // A reader opened again closes the archive it had open.
    file.Reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        error = GetLastError();
        return ZipStatus::OpenFailed;
    }
    LARGE_INTEGER length;
    if (!GetFileSizeEx(file.Get(), &length)) {
        error = GetLastError();
        return ZipStatus::ReadFailed;
    }
    size = static_cast<uint64_t>(length.QuadPart);
    return ZipStatus::Ok;
}

bool ZipReader::FileSource::ReadAt(uint64_t at, void* buffer, size_t count) {
    if (at > size || count > size - at) {
        return false;
    }
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(at);
    if (!SetFilePointerEx(file.Get(), position, nullptr, FILE_BEGIN)) {
        error = GetLastError();
        return false;
    }
    return ReadExactly(file.Get(), buffer, count, &error);
}

ZipStatus ZipReader::Open(const std::wstring& path) {
    entries.clear();
    if (const ZipStatus opened = source.Open(path); opened != ZipStatus::Ok) {
        return opened;
    }
    return ReadZipDirectory(source, &entries);
}

ZipStatus ZipReader::Extract(const std::string& name, uint64_t maxSize, std::string* content) {
    const auto found = std::find_if(entries.begin(), entries.end(),
                                    [&](const ZipEntry& e) { return e.name == name; });
    if (found == entries.end()) {
        return ZipStatus::NotFound;
    }
    return ExtractZipEntry(source, *found, maxSize, content);
}

// --- Writer -------------------------------------------------------------------------------

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
        if (!ReadFile(file, buffer, static_cast<DWORD>(std::min(size, kPiece)), &read, nullptr)) {
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

}  // namespace

DWORD FlushToDisk(HANDLE file) {
    return FlushFileBuffers(file) ? 0 : GetLastError();
}

BackgroundFlush::~BackgroundFlush() {
    Finish();
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
    : options(given), sink(target, given.flushEvery, flush), writer(sink, given, limits) {}

ZipStatus ZipWriter::Noted(ZipStatus status) {
    if (status == ZipStatus::WriteFailed) {
        systemError = sink.Error();
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
        result.error = sink.Error();
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
