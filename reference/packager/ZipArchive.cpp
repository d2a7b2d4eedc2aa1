#include "ZipArchive.h"

#include <zlib.h>

#include "Crc32.h"
#include "PieceReader.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint16_t kUtf8Flag = 0x0800;
constexpr uint16_t kStored = 0;
constexpr uint16_t kDeflated = 8;
constexpr uint32_t kMax32 = 0xFFFFFFFFu;
constexpr uint16_t kMax16 = 0xFFFFu;
constexpr size_t kChunk = 1 << 20;  // reads of the catalog
// Vendor files are read in pieces of this size, this many ahead of the writing.
constexpr size_t kPieceSize = 1 << 20;
constexpr size_t kPiecesAhead = 4;
// Of the first piece, this much is deflated to decide between storing and deflating.
constexpr size_t kSampleSize = 256 << 10;
constexpr size_t kDeflateOutput = 256 << 10;
// Local headers without ZIP64 fields can describe entries up to 4 GiB; deflate may grow
// incompressible data a little, so files from this size on get the ZIP64 fields up front.
constexpr uint64_t kZip64FromSize = 0xFFFF0000ull;

uint16_t Get16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Get32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t Get64(const unsigned char* p) {
    return static_cast<uint64_t>(Get32(p)) | (static_cast<uint64_t>(Get32(p + 4)) << 32);
}

// Little-endian record builder.
struct Bytes {
    std::string data;
    Bytes& u16(uint16_t v) {
        data.push_back(static_cast<char>(v & 0xFF));
        data.push_back(static_cast<char>(v >> 8));
        return *this;
    }
    Bytes& u32(uint32_t v) {
        return u16(static_cast<uint16_t>(v & 0xFFFF)).u16(static_cast<uint16_t>(v >> 16));
    }
    Bytes& u64(uint64_t v) {
        return u32(static_cast<uint32_t>(v)).u32(static_cast<uint32_t>(v >> 32));
    }
    Bytes& raw(const std::string& s) {
        data += s;
        return *this;
    }
};

void DosTime(uint16_t* time, uint16_t* date) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    *time = static_cast<uint16_t>((now.wHour << 11) | (now.wMinute << 5) | (now.wSecond / 2));
    *date = static_cast<uint16_t>(((now.wYear - 1980) << 9) | (now.wMonth << 5) | now.wDay);
}

}  // namespace

// --- Reader -------------------------------------------------------------------------------

bool ZipReader::ReadAt(uint64_t at, void* buffer, size_t size) {
    if (at > fileSize || size > fileSize - at) {
        return false;
    }
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(at);
    if (!SetFilePointerEx(file.Get(), position, nullptr, FILE_BEGIN)) {
        systemError = GetLastError();
        return false;
    }
    auto* out = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        DWORD got = 0;
        const DWORD ask = static_cast<DWORD>(std::min<size_t>(size, kChunk));
        if (!ReadFile(file.Get(), out, ask, &got, nullptr)) {
            systemError = GetLastError();
            return false;
        }
        if (got == 0) {
            return false;
        }
        out += got;
        size -= got;
    }
    return true;
}

ZipStatus ZipReader::Open(const std::wstring& path) {
    entries.clear();
    fileSize = 0;
    // A reader opened again closes the archive it had open.
    file.Reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        systemError = GetLastError();
        return ZipStatus::OpenFailed;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.Get(), &size)) {
        systemError = GetLastError();
        return ZipStatus::ReadFailed;
    }
    fileSize = static_cast<uint64_t>(size.QuadPart);
    if (fileSize < 22) {
        return ZipStatus::Corrupt;
    }

    // The end record sits within the last 22 + 65535 bytes (its comment is at most 65535).
    const size_t tail = static_cast<size_t>(std::min<uint64_t>(fileSize, 22 + 65535));
    std::string buffer(tail, '\0');
    if (!ReadAt(fileSize - tail, buffer.data(), tail)) {
        return ZipStatus::ReadFailed;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
    size_t end = std::string::npos;
    for (size_t i = tail - 22 + 1; i-- > 0;) {
        if (Get32(bytes + i) == kEndSignature && i + 22 + Get16(bytes + i + 20) <= tail) {
            end = i;
            break;
        }
    }
    if (end == std::string::npos) {
        return ZipStatus::Corrupt;
    }
    const unsigned char* eocd = bytes + end;
    const uint64_t endOffset = fileSize - tail + end;
    uint64_t count = Get16(eocd + 10);
    uint64_t directorySize = Get32(eocd + 12);
    uint64_t directoryOffset = Get32(eocd + 16);
    if (count == kMax16 || directorySize == kMax32 || directoryOffset == kMax32) {
        unsigned char locator[20];
        if (endOffset < 20 || !ReadAt(endOffset - 20, locator, 20) ||
            Get32(locator) != kZip64LocatorSignature) {
            return ZipStatus::Corrupt;
        }
        unsigned char record[56];
        if (!ReadAt(Get64(locator + 8), record, 56) || Get32(record) != kZip64EndSignature) {
            return ZipStatus::Corrupt;
        }
        count = Get64(record + 32);
        directorySize = Get64(record + 40);
        directoryOffset = Get64(record + 48);
    }
    if (directoryOffset > fileSize || directorySize > fileSize - directoryOffset ||
        count > directorySize / 46) {
        return ZipStatus::Corrupt;
    }

    std::string directory(static_cast<size_t>(directorySize), '\0');
    if (!ReadAt(directoryOffset, directory.data(), directory.size())) {
        return ZipStatus::ReadFailed;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(directory.data());
    const unsigned char* const limit = p + directory.size();
    for (uint64_t i = 0; i < count; ++i) {
        if (limit - p < 46 || Get32(p) != kCentralSignature) {
            return ZipStatus::Corrupt;
        }
        const uint16_t nameLength = Get16(p + 28);
        const uint16_t extraLength = Get16(p + 30);
        const uint16_t commentLength = Get16(p + 32);
        if (limit - p < 46 + nameLength + extraLength + commentLength) {
            return ZipStatus::Corrupt;
        }
        ZipEntry entry;
        entry.method = Get16(p + 10);
        entry.crc = Get32(p + 16);
        entry.compressedSize = Get32(p + 20);
        entry.size = Get32(p + 24);
        entry.localHeaderOffset = Get32(p + 42);
        entry.name.assign(reinterpret_cast<const char*>(p + 46), nameLength);
        for (const unsigned char* extra = p + 46 + nameLength;
             extra + 4 <= p + 46 + nameLength + extraLength;) {
            const uint16_t id = Get16(extra);
            const uint16_t length = Get16(extra + 2);
            const unsigned char* field = extra + 4;
            const unsigned char* fieldEnd = field + length;
            if (fieldEnd > p + 46 + nameLength + extraLength) {
                return ZipStatus::Corrupt;
            }
            if (id == kZip64ExtraId) {
                for (uint64_t* value :
                     {&entry.size, &entry.compressedSize, &entry.localHeaderOffset}) {
                    if (*value == kMax32) {
                        if (fieldEnd - field < 8) {
                            return ZipStatus::Corrupt;
                        }
                        *value = Get64(field);
                        field += 8;
                    }
                }
            }
            extra = fieldEnd;
        }
        entries.push_back(entry);
        p += 46 + nameLength + extraLength + commentLength;
    }
    return ZipStatus::Ok;
}

ZipStatus ZipReader::Extract(const std::string& name, uint64_t maxSize, std::string* content) {
    const auto found = std::find_if(entries.begin(), entries.end(),
                                    [&](const ZipEntry& e) { return e.name == name; });
    if (found == entries.end()) {
        return ZipStatus::NotFound;
    }
    const ZipEntry& entry = *found;
    if (entry.size > maxSize || entry.compressedSize > fileSize) {
        return ZipStatus::TooLarge;
    }
    unsigned char local[30];
    if (!ReadAt(entry.localHeaderOffset, local, 30) || Get32(local) != kLocalSignature) {
        return ZipStatus::Corrupt;
    }
    const uint64_t dataOffset =
        entry.localHeaderOffset + 30 + Get16(local + 26) + Get16(local + 28);
    std::string compressed(static_cast<size_t>(entry.compressedSize), '\0');
    if (!ReadAt(dataOffset, compressed.data(), compressed.size())) {
        return ZipStatus::Corrupt;
    }
    if (entry.method == kStored) {
        if (entry.compressedSize != entry.size) {
            return ZipStatus::Corrupt;
        }
        *content = std::move(compressed);
    } else if (entry.method == kDeflated) {
        content->assign(static_cast<size_t>(entry.size), '\0');
        z_stream stream{};
        if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
            return ZipStatus::Corrupt;
        }
        stream.next_in = reinterpret_cast<Bytef*>(compressed.data());
        stream.avail_in = static_cast<uInt>(compressed.size());
        stream.next_out = reinterpret_cast<Bytef*>(content->data());
        stream.avail_out = static_cast<uInt>(content->size());
        const int result = inflate(&stream, Z_FINISH);
        const bool complete = result == Z_STREAM_END && stream.total_out == entry.size;
        inflateEnd(&stream);
        if (!complete) {
            return ZipStatus::Corrupt;
        }
    } else {
        return ZipStatus::Unsupported;
    }
    // zlib's own CRC-32 here: reading back what the writer checksummed with Crc32 checks both.
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(content->data()),
                            static_cast<uInt>(content->size()));
    return crc == entry.crc ? ZipStatus::Ok : ZipStatus::Corrupt;
}

// --- Writer -------------------------------------------------------------------------------

ZipWriter::ZipWriter(HANDLE target, Options given) : file(target), options(given) {}

bool ZipWriter::Write(const void* data, size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        DWORD done = 0;
        const DWORD ask = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        if (!WriteFile(file, p, ask, &done, nullptr) || done == 0) {
            systemError = GetLastError();
            return false;
        }
        p += done;
        size -= done;
        offset += done;
    }
    return true;
}

bool ZipWriter::WriteAt(uint64_t at, const void* data, size_t size) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(at);
    const uint64_t end = offset;
    if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) {
        systemError = GetLastError();
        return false;
    }
    offset = at;
    const bool ok = Write(data, size);
    position.QuadPart = static_cast<LONGLONG>(end);
    if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) {
        systemError = GetLastError();
        return false;
    }
    offset = end;
    return ok;
}

ZipStatus ZipWriter::BeginEntry(const std::string& name, uint16_t method, bool zip64,
                                Written* out) {
    if (!names.insert(name).second) {
        return ZipStatus::Duplicate;
    }
    out->entry = ZipEntry{};
    out->entry.name = name;
    out->entry.method = method;
    out->entry.localHeaderOffset = offset;
    out->zip64Local = zip64 || options.forceZip64;
    uint16_t time = 0, date = 0;
    DosTime(&time, &date);
    Bytes header;
    header.u32(kLocalSignature)
        .u16(out->zip64Local ? 45 : 20)
        .u16(kUtf8Flag)
        .u16(method)
        .u16(time)
        .u16(date)
        .u32(0)
        .u32(out->zip64Local ? kMax32 : 0)
        .u32(out->zip64Local ? kMax32 : 0)
        .u16(static_cast<uint16_t>(name.size()))
        .u16(out->zip64Local ? 20 : 0)
        .raw(name);
    if (out->zip64Local) {
        header.u16(kZip64ExtraId).u16(16).u64(0).u64(0);
    }
    return Write(header.data.data(), header.data.size()) ? ZipStatus::Ok : ZipStatus::WriteFailed;
}

ZipStatus ZipWriter::EndEntry(Written& entry) {
    const uint64_t at = entry.entry.localHeaderOffset;
    Bytes crc;
    crc.u32(entry.entry.crc);
    if (!WriteAt(at + 14, crc.data.data(), 4)) {
        return ZipStatus::WriteFailed;
    }
    if (entry.zip64Local) {
        Bytes sizes;
        sizes.u64(entry.entry.size).u64(entry.entry.compressedSize);
        if (!WriteAt(at + 30 + entry.entry.name.size() + 4, sizes.data.data(), 16)) {
            return ZipStatus::WriteFailed;
        }
    } else {
        if (entry.entry.size >= kMax32 || entry.entry.compressedSize >= kMax32) {
            return ZipStatus::TooLarge;
        }
        Bytes sizes;
        sizes.u32(static_cast<uint32_t>(entry.entry.compressedSize))
            .u32(static_cast<uint32_t>(entry.entry.size));
        if (!WriteAt(at + 18, sizes.data.data(), 8)) {
            return ZipStatus::WriteFailed;
        }
    }
    written.push_back(entry);
    return ZipStatus::Ok;
}

namespace {

// Feeds `input` to a deflate stream and writes what comes out. `flush` is zlib's: Z_NO_FLUSH
// while data follows, Z_SYNC_FLUSH to have everything so far out (the sample), Z_FINISH to
// end the stream.
template <typename WriteFn>
bool Deflate(z_stream& stream, const char* input, size_t size, int flush, std::string& out,
             WriteFn write) {
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input));
    stream.avail_in = static_cast<uInt>(size);
    for (;;) {
        stream.next_out = reinterpret_cast<Bytef*>(out.data());
        stream.avail_out = static_cast<uInt>(out.size());
        const int result = deflate(&stream, flush);
        if (result == Z_STREAM_ERROR) {
            return false;
        }
        const size_t produced = out.size() - stream.avail_out;
        if (produced > 0 && !write(out.data(), produced)) {
            return false;
        }
        if (flush == Z_FINISH ? result == Z_STREAM_END
                              : stream.avail_in == 0 && stream.avail_out != 0) {
            return true;
        }
    }
}

struct DeflateStream {
    z_stream stream{};
    bool ready = false;
    explicit DeflateStream(int level) {
        ready = deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~DeflateStream() {
        if (ready) {
            deflateEnd(&stream);
        }
    }
};

}  // namespace

ZipStatus ZipWriter::AddBytes(const std::string& name, const std::string& data) {
    Written entry;
    if (ZipStatus s = BeginEntry(name, kDeflated, data.size() >= kZip64FromSize, &entry);
        s != ZipStatus::Ok) {
        return s;
    }
    const uint64_t start = offset;
    DeflateStream deflater(options.level);
    std::string out(64 * 1024, '\0');
    if (!deflater.ready || !Deflate(deflater.stream, data.data(), data.size(), Z_FINISH, out,
                                    [this](const char* p, size_t n) { return Write(p, n); })) {
        return ZipStatus::WriteFailed;
    }
    entry.entry.crc = Crc32(0, data.data(), data.size());
    entry.entry.size = data.size();
    entry.entry.compressedSize = offset - start;
    return EndEntry(entry);
}

ZipStatus ZipWriter::AddFile(const std::string& name, const std::wstring& path) {
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

    // The file is read (and checksummed) ahead on another thread while each piece is
    // compressed and written here.
    PieceReader reader(opened.Get(), kPieceSize, kPiecesAhead);
    PieceReader::Piece piece;
    if (!reader.Next(&piece)) {
        systemError = reader.Error();
        return ZipStatus::ReadFailed;
    }

    // The sample: the start of the first piece deflated as the start of the entry's own
    // stream. When it shrinks by a tenth, that output is the entry's first bytes and the
    // stream goes on; otherwise the file is stored.
    DeflateStream deflater(options.level);
    std::string out(kDeflateOutput, '\0');
    std::string sampled;
    const size_t sampleSize = std::min(piece.size, kSampleSize);
    bool compress = false;
    if (sampleSize > 0) {
        if (!deflater.ready) {
            return ZipStatus::WriteFailed;
        }
        if (!Deflate(deflater.stream, piece.data, sampleSize, Z_SYNC_FLUSH, out,
                     [&sampled](const char* p, size_t n) {
                         sampled.append(p, n);
                         return true;
                     })) {
            return ZipStatus::WriteFailed;
        }
        compress = sampled.size() < sampleSize - sampleSize / 10;
    }

    Written entry;
    if (ZipStatus s = BeginEntry(name, compress ? kDeflated : kStored,
                                 static_cast<uint64_t>(size.QuadPart) >= kZip64FromSize, &entry);
        s != ZipStatus::Ok) {
        return s;
    }
    const uint64_t start = offset;
    auto writeOut = [this](const char* p, size_t n) { return Write(p, n); };
    uint64_t total = 0;
    size_t skip = 0;  // of the first piece, what the sample has already taken
    if (compress) {
        if (!Write(sampled.data(), sampled.size())) {
            return ZipStatus::WriteFailed;
        }
        skip = sampleSize;
    }
    while (piece.size > 0) {
        total += piece.size;
        const bool ok = compress ? Deflate(deflater.stream, piece.data + skip, piece.size - skip,
                                           Z_NO_FLUSH, out, writeOut)
                                 : Write(piece.data, piece.size);
        if (!ok) {
            return ZipStatus::WriteFailed;
        }
        skip = 0;
        if (!reader.Next(&piece)) {
            systemError = reader.Error();
            return ZipStatus::ReadFailed;
        }
    }
    if (compress && !Deflate(deflater.stream, nullptr, 0, Z_FINISH, out, writeOut)) {
        return ZipStatus::WriteFailed;
    }
    entry.entry.crc = piece.crc;
    entry.entry.size = total;
    entry.entry.compressedSize = offset - start;
    return EndEntry(entry);
}

namespace {

// One central directory header. The ZIP64 extra field carries exactly the values whose 32-bit
// fields hold 0xFFFFFFFF, in the order the format fixes: size, compressed size, offset.
std::string CentralHeader(const ZipEntry& e, bool zip64Local, bool forceZip64, uint16_t time,
                          uint16_t date) {
    const bool bigSize = forceZip64 || e.size >= kMax32;
    const bool bigCompressed = forceZip64 || e.compressedSize >= kMax32;
    const bool bigOffset = forceZip64 || e.localHeaderOffset >= kMax32;
    Bytes fields;
    if (bigSize) {
        fields.u64(e.size);
    }
    if (bigCompressed) {
        fields.u64(e.compressedSize);
    }
    if (bigOffset) {
        fields.u64(e.localHeaderOffset);
    }
    Bytes extra;
    if (!fields.data.empty()) {
        extra.u16(kZip64ExtraId).u16(static_cast<uint16_t>(fields.data.size())).raw(fields.data);
    }
    const uint16_t needed = extra.data.empty() && !zip64Local ? 20 : 45;
    Bytes header;
    header.u32(kCentralSignature).u16(needed).u16(needed).u16(kUtf8Flag).u16(e.method);
    header.u16(time).u16(date).u32(e.crc);
    header.u32(bigCompressed ? kMax32 : static_cast<uint32_t>(e.compressedSize));
    header.u32(bigSize ? kMax32 : static_cast<uint32_t>(e.size));
    header.u16(static_cast<uint16_t>(e.name.size())).u16(static_cast<uint16_t>(extra.data.size()));
    header.u16(0).u16(0).u16(0).u32(0);
    header.u32(bigOffset ? kMax32 : static_cast<uint32_t>(e.localHeaderOffset));
    return header.raw(e.name).raw(extra.data).data;
}

// The end records after a directory of `count` entries and `size` bytes at `offset`, the
// ZIP64 record and locator first when any of the three needs them (or when forced).
std::string EndRecords(uint64_t count, uint64_t size, uint64_t offset, bool forceZip64) {
    const bool zip64End = forceZip64 || count >= kMax16 || size >= kMax32 || offset >= kMax32;
    Bytes end;
    if (zip64End) {
        const uint64_t recordOffset = offset + size;
        end.u32(kZip64EndSignature).u64(44).u16(45).u16(45).u32(0).u32(0);
        end.u64(count).u64(count).u64(size).u64(offset);
        end.u32(kZip64LocatorSignature).u32(0).u64(recordOffset).u32(1);
    }
    const uint16_t count16 = zip64End ? kMax16 : static_cast<uint16_t>(count);
    end.u32(kEndSignature).u16(0).u16(0).u16(count16).u16(count16);
    end.u32(zip64End ? kMax32 : static_cast<uint32_t>(size));
    end.u32(zip64End ? kMax32 : static_cast<uint32_t>(offset));
    return end.u16(0).data;
}

}  // namespace

ZipStatus ZipWriter::Finish() {
    const uint64_t directoryOffset = offset;
    uint16_t time = 0, date = 0;
    DosTime(&time, &date);
    for (const Written& w : written) {
        const std::string header =
            CentralHeader(w.entry, w.zip64Local, options.forceZip64, time, date);
        if (!Write(header.data(), header.size())) {
            return ZipStatus::WriteFailed;
        }
    }
    const std::string end =
        EndRecords(written.size(), offset - directoryOffset, directoryOffset, options.forceZip64);
    return Write(end.data(), end.size()) ? ZipStatus::Ok : ZipStatus::WriteFailed;
}
