#pragma once

// The reference packager's writer of ZIP files on Windows (the package): entries streamed
// front to back into an open file through ZipStreamWriter.h and the pipeline of
// PackPipeline.h. Vendor files are read a piece at a time and never held whole.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "PackPipeline.h"
#include "ZipStreamWriter.h"

// Encoding threads for this process: one per processor it may run on, at most 16. An agent
// that confines its runs to some processors gets no more threads.
unsigned ProcessorWorkers();

// Writes a file through to disk: 0, or the platform's error code. FlushToDisk is the
// platform's; tests give one that fails when they ask.
using FlushFile = std::function<DWORD(HANDLE file)>;
DWORD FlushToDisk(HANDLE file);

// Writes an archive front to back into an open, seekable file (open for reading too: an entry
// that turns out to shrink after a stored start is rewritten in place).
class ZipWriter {
  public:
    // ZIP64 records from `limits` on (kZipLimits but in tests); the file written through to
    // disk by `flush` (FlushToDisk but in tests), in the background every
    // `options.flushEvery` bytes as the archive grows, and once more by Finish.
    ZipWriter(HANDLE file, const ZipOptions& options, const ZipLimits& limits,
              FlushFile flush = FlushToDisk);
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

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
    class FileSink;

    // Keeps the sink's error code of a failed write as the writer's.
    ZipStatus Noted(ZipStatus status);

    ZipOptions options;
    std::unique_ptr<FileSink> sink;
    ZipStreamWriter writer;
    DWORD systemError = 0;
};
