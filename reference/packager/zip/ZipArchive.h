#pragma once

// The reference packager's ZIP files on Windows: a reader for the catalog and a streaming
// writer for the package, over the records of ZipFormat.h. Vendor files are read a piece at
// a time and never held whole.

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <optional>
#include <string>
#include <vector>

#include "DigestText.h"
#include "PackPipeline.h"
#include "WinResources.h"
#include "ZipRecordReader.h"
#include "ZipStreamWriter.h"

// A file time in seconds since 1970 UTC, to the second below: how entries carry times.
int64_t UnixTime(const FILETIME& time);

// Encoding threads for this process: one per processor it may run on, at most 16. An agent
// that confines its runs to some processors gets no more threads.
unsigned ProcessorWorkers();

// Reads the central directory of an archive file and extracts entries into memory.
class ZipReader {
  public:
    ZipStatus Open(const std::wstring& path);
    const std::vector<ZipEntry>& Entries() const { return entries; }
    // Extracts one entry, checking its size and CRC; at most `maxSize` bytes.
    ZipStatus Extract(const std::string& name, uint64_t maxSize, std::string* content);
    // The platform's error code of the last failed open or read.
    DWORD SystemError() const { return source.Error(); }

  private:
    // An open file as a ByteSource, keeping the error code of a failed read.
    class FileSource : public ByteSource {
      public:
        ZipStatus Open(const std::wstring& path);
        uint64_t Size() const override { return size; }
        bool ReadAt(uint64_t offset, void* buffer, size_t count) override;
        DWORD Error() const { return error; }

      private:
        UniqueFile file;
        uint64_t size = 0;
        DWORD error = 0;
    };

    FileSource source;
    std::vector<ZipEntry> entries;
};

// Writes a file through to disk: 0, or the platform's error code. FlushToDisk is the
// platform's; tests give one that fails when they ask.
using FlushFile = std::function<DWORD(HANDLE file)>;
DWORD FlushToDisk(HANDLE file);

// Flushes a file on a thread of its own when asked, while its owner goes on writing. Under
// Wine the flush runs beside the writes; on Windows, where a synchronous handle takes one
// operation at a time, it costs the writer what a flush at the end would have.
class BackgroundFlush {
  public:
    BackgroundFlush(HANDLE target, FlushFile flush) : file(target), flushFile(std::move(flush)) {}
    ~BackgroundFlush();
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

// Writes an archive front to back into an open, seekable file (open for reading too: an entry
// that turns out to shrink after a stored start is rewritten in place).
class ZipWriter {
  public:
    // ZIP64 records from `limits` on (kZipLimits but in tests); the file written through to
    // disk by `flush` (FlushToDisk but in tests).
    ZipWriter(HANDLE file, const ZipOptions& options, const ZipLimits& limits,
              FlushFile flush = FlushToDisk);

    // Adds `data` as one deflated entry, modified at `modified` (seconds since 1970 UTC).
    // Every add refuses a name already written (Duplicate).
    ZipStatus AddBytes(const std::string& name, const std::string& data, int64_t modified);

    // Streams files into entries, in their order, through one pipeline (PackPipeline.h), each
    // with its file's last-write time; `done` hears of each file as it is done. Each item's
    // file is the caller's HANDLE, open for reading at its start: the caller judged what it
    // opened. A file whose size cannot be read is left out (and `done` told); a pinned file
    // whose digest differs is taken out again. On a failure, result.error is the platform's
    // code.
    PackResult AddFiles(const std::vector<PackItem>& files, const PackDone& done);

    // One file, opened here: OpenFailed when it cannot be opened.
    ZipStatus AddFile(const std::string& name, const std::wstring& path);

    // Writes the central directory and the end records, and the file through to disk: a
    // flush that failed at any time, in the background or now, fails it.
    ZipStatus Finish();
    // The platform's error code of the last failed open, read or write.
    DWORD SystemError() const { return systemError; }

  private:
    // An open file as a ByteSink, keeping the error code of a failed write.
    class FileSink : public ByteSink {
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

    // Keeps the sink's error code of a failed write as the writer's.
    ZipStatus Noted(ZipStatus status);

    ZipOptions options;
    FileSink sink;
    ZipStreamWriter writer;
    DWORD systemError = 0;
};
