#include "ZipArchive.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <optional>

#include "BlockDeflate.h"
#include "Deflate.h"
#include "Sha256.h"

namespace {

constexpr size_t kChunk = 1 << 20;  // reads of the catalog
// Vendor files are read in pieces of this size, this many ahead of the writing.
constexpr size_t kPieceSize = 1 << 20;
constexpr size_t kPiecesAhead = 4;
// Of the first piece, this much is deflated to decide between storing and deflating.
constexpr size_t kSampleSize = 256 << 10;

// One worker per processor the process may run on, at most 16, unless the caller says
// otherwise: an agent that confines its runs to some processors gets no more threads.
unsigned DeflateWorkers(unsigned asked) {
    if (asked != 0) {
        return asked;
    }
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

ZipStreamWriter::Options StreamOptions(const ZipWriter::Options& options) {
    ZipStreamWriter::Options stream;
    stream.forceZip64 = options.forceZip64;
    stream.level = options.level;
    return stream;
}

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

namespace {}  // namespace

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
    auto* out = static_cast<unsigned char*>(buffer);
    while (count > 0) {
        DWORD got = 0;
        const DWORD ask = static_cast<DWORD>(std::min<size_t>(count, kChunk));
        if (!ReadFile(file.Get(), out, ask, &got, nullptr)) {
            error = GetLastError();
            return false;
        }
        if (got == 0) {
            return false;
        }
        out += got;
        count -= got;
    }
    return true;
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

bool ZipWriter::FileSink::Write(const void* data, size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        DWORD done = 0;
        const DWORD ask = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        if (!WriteFile(file, p, ask, &done, nullptr) || done == 0) {
            error = GetLastError();
            return false;
        }
        p += done;
        size -= done;
    }
    return true;
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

bool ZipWriter::FileSink::WriteAt(uint64_t at, const void* data, size_t size) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(at);
    LARGE_INTEGER end;
    if (!SetFilePointerEx(file, LARGE_INTEGER{}, &end, FILE_CURRENT) ||
        !SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) {
        error = GetLastError();
        return false;
    }
    const bool ok = Write(data, size);
    if (!SetFilePointerEx(file, end, nullptr, FILE_BEGIN)) {
        error = GetLastError();
        return false;
    }
    return ok;
}

ZipWriter::ZipWriter(HANDLE target, Options given)
    : options(given), sink(target), writer(sink, StreamOptions(given)) {}

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

ZipStatus ZipWriter::AddFile(const std::string& name, const std::wstring& path,
                             const Sha256Digest* pinned, FileFacts* facts) {
    const UniqueFile opened(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!opened) {
        systemError = GetLastError();
        return ZipStatus::OpenFailed;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(opened.Get(), &size)) {
        systemError = GetLastError();
        return ZipStatus::ReadFailed;
    }
    FileFacts learnt;
    const ZipStatus status =
        Noted(StreamFile(name, opened.Get(), static_cast<uint64_t>(size.QuadPart),
                         LastWriteTime(opened.Get()), pinned, &learnt));
    if (facts != nullptr) {
        *facts = learnt;
    }
    return status;
}

// The file is read (and checksummed) ahead on another thread while it is compressed and
// written here. The sample: the start of the first piece deflated as the start of the
// entry's own stream. When it shrinks by a tenth, that output is the entry's first bytes and
// the stream goes on; otherwise the file is stored.
ZipStatus ZipWriter::StreamFile(const std::string& name, HANDLE file, uint64_t size,
                                int64_t modified, const Sha256Digest* pinned, FileFacts* facts) {
    std::optional<Sha256> digest;
    if (pinned != nullptr) {
        digest.emplace();
        if (digest->Status() != 0) {
            systemError = static_cast<DWORD>(digest->Status());
            return ZipStatus::ReadFailed;
        }
    }
    PieceReader reader(file, kPieceSize, kPiecesAhead, true, digest ? &*digest : nullptr);
    PieceReader::Piece piece;
    if (!reader.Next(&piece)) {
        systemError = reader.Error();
        return ZipStatus::ReadFailed;
    }
    std::string sampled;
    const size_t sampleSize = std::min(piece.size, kSampleSize);
    bool compress = false;
    if (sampleSize > 0) {
        Deflater deflater(options.level);
        auto keep = [&sampled](const char* p, size_t n) {
            sampled.append(p, n);
            return true;
        };
        if (!deflater.Ready() || !deflater.Feed(piece.data, sampleSize, Z_SYNC_FLUSH, keep)) {
            return ZipStatus::WriteFailed;
        }
        compress = sampled.size() < sampleSize - sampleSize / 10;
    }
    if (ZipStatus s = writer.BeginEntry(name, compress ? kZipDeflated : kZipStored,
                                        size >= kZip64FromSize, modified);
        s != ZipStatus::Ok) {
        return s;
    }
    if (compress && writer.Data(sampled.data(), sampled.size()) != ZipStatus::Ok) {
        return ZipStatus::WriteFailed;
    }
    uint64_t total = 0;
    if (const ZipStatus s = StreamRest(reader, piece, compress ? sampleSize : 0, &total);
        s != ZipStatus::Ok) {
        return s;
    }
    facts->size = total;
    if (digest) {
        Sha256Digest found;
        if (!digest->Finish(&found)) {
            systemError = static_cast<DWORD>(digest->Status());
            return ZipStatus::ReadFailed;
        }
        facts->sha256 = found;
        if (found != *pinned) {
            // No byte of a file that is not what was pinned may stay in the package.
            return writer.AbandonEntry() == ZipStatus::Ok ? ZipStatus::Mismatch
                                                          : ZipStatus::WriteFailed;
        }
    }
    return writer.EndEntry(piece.crc, total);
}

// The file from where the sample ends: stored, or deflated in blocks on worker threads as the
// continuation of the sample's stream. `piece` is the first piece, and the last at the end;
// `sampled` is what the sample took of it, 0 when the file is stored.
ZipStatus ZipWriter::StreamRest(PieceReader& reader, PieceReader::Piece& piece, size_t sampled,
                                uint64_t* total) {
    auto writeOut = [this](const char* p, size_t n) { return writer.Data(p, n) == ZipStatus::Ok; };
    std::optional<BlockDeflater> deflater;
    if (sampled > 0) {
        deflater.emplace(options.level, options.deflateBlock,
                         DeflateWorkers(options.deflateWorkers), writeOut);
        deflater->Continue(piece.data, sampled);
    }
    size_t skip = sampled;  // of the first piece, what the sample has taken
    while (piece.size > 0) {
        *total += piece.size;
        const bool ok = deflater ? deflater->Feed(piece.data + skip, piece.size - skip)
                                 : writeOut(piece.data, piece.size);
        if (!ok) {
            return ZipStatus::WriteFailed;
        }
        skip = 0;
        if (!reader.Next(&piece)) {
            systemError = reader.Error();
            return ZipStatus::ReadFailed;
        }
    }
    return !deflater || deflater->Finish() ? ZipStatus::Ok : ZipStatus::WriteFailed;
}
