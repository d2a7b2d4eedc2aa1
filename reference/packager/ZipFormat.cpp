#include "ZipFormat.h"

#include <zlib.h>

#include <algorithm>

#include "Crc32.h"
#include "Deflate.h"

namespace {

constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint16_t kTimestampExtraId = 0x5455;  // "UT": Unix times, here the modification
constexpr uint16_t kUtf8Flag = 0x0800;
constexpr uint32_t kMax32 = 0xFFFFFFFFu;
constexpr uint16_t kMax16 = 0xFFFFu;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kLongestComment = 65535;

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

// --- Reading --------------------------------------------------------------------------------

// Where the directory is and how many entries it holds, as the end records say.
struct DirectoryPlace {
    uint64_t count = 0;
    uint64_t size = 0;
    uint64_t offset = 0;
};

// The end record sits within the last 22 + 65535 bytes (its comment is at most 65535): the
// last signature there whose comment fits before the end of the file.
ZipStatus FindEndRecord(ByteSource& source, DirectoryPlace* place, uint64_t* endOffset) {
    const uint64_t fileSize = source.Size();
    if (fileSize < kEndRecordSize) {
        return ZipStatus::Corrupt;
    }
    const size_t tail =
        static_cast<size_t>(std::min<uint64_t>(fileSize, kEndRecordSize + kLongestComment));
    std::string buffer(tail, '\0');
    if (!source.ReadAt(fileSize - tail, buffer.data(), tail)) {
        return ZipStatus::ReadFailed;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
    for (size_t i = tail - kEndRecordSize + 1; i-- > 0;) {
        if (Get32(bytes + i) == kEndSignature &&
            Get16(bytes + i + 20) <= tail - kEndRecordSize - i) {
            place->count = Get16(bytes + i + 10);
            place->size = Get32(bytes + i + 12);
            place->offset = Get32(bytes + i + 16);
            *endOffset = fileSize - tail + i;
            return ZipStatus::Ok;
        }
    }
    return ZipStatus::Corrupt;
}

// The ZIP64 end record, found through the locator just before the end record.
ZipStatus ReadZip64End(ByteSource& source, uint64_t endOffset, DirectoryPlace* place) {
    unsigned char locator[20];
    if (endOffset < sizeof(locator) || !source.ReadAt(endOffset - 20, locator, 20) ||
        Get32(locator) != kZip64LocatorSignature) {
        return ZipStatus::Corrupt;
    }
    unsigned char record[56];
    if (!source.ReadAt(Get64(locator + 8), record, 56) || Get32(record) != kZip64EndSignature) {
        return ZipStatus::Corrupt;
    }
    place->count = Get64(record + 32);
    place->size = Get64(record + 40);
    place->offset = Get64(record + 48);
    return ZipStatus::Ok;
}

// The ZIP64 extra field holds, in this order, the values whose 32-bit fields are 0xFFFFFFFF.
ZipStatus ApplyZip64Extra(const unsigned char* field, size_t length, ZipEntry* entry) {
    size_t used = 0;
    for (uint64_t* value : {&entry->size, &entry->compressedSize, &entry->localHeaderOffset}) {
        if (*value == kMax32) {
            if (length - used < 8) {
                return ZipStatus::Corrupt;
            }
            *value = Get64(field + used);
            used += 8;
        }
    }
    return ZipStatus::Ok;
}

// Walks the extra fields of one central header: `length` bytes at `extra`.
ZipStatus ReadExtraFields(const unsigned char* extra, size_t length, ZipEntry* entry) {
    size_t at = 0;
    while (length - at >= 4) {
        const uint16_t id = Get16(extra + at);
        const size_t fieldLength = Get16(extra + at + 2);
        if (fieldLength > length - at - 4) {
            return ZipStatus::Corrupt;
        }
        if (id == kZip64ExtraId) {
            if (ApplyZip64Extra(extra + at + 4, fieldLength, entry) != ZipStatus::Ok) {
                return ZipStatus::Corrupt;
            }
        }
        at += 4 + fieldLength;
    }
    return ZipStatus::Ok;
}

// One central header at `p`, of which `remaining` bytes are left in the directory; its whole
// length goes to `*used`.
ZipStatus ReadCentralHeader(const unsigned char* p, size_t remaining, ZipEntry* entry,
                            size_t* used) {
    if (remaining < kCentralHeaderSize || Get32(p) != kCentralSignature) {
        return ZipStatus::Corrupt;
    }
    const size_t nameLength = Get16(p + 28);
    const size_t extraLength = Get16(p + 30);
    const size_t commentLength = Get16(p + 32);
    *used = kCentralHeaderSize + nameLength + extraLength + commentLength;
    if (remaining < *used) {
        return ZipStatus::Corrupt;
    }
    entry->method = Get16(p + 10);
    entry->crc = Get32(p + 16);
    entry->compressedSize = Get32(p + 20);
    entry->size = Get32(p + 24);
    entry->localHeaderOffset = Get32(p + 42);
    entry->name.assign(reinterpret_cast<const char*>(p + kCentralHeaderSize), nameLength);
    return ReadExtraFields(p + kCentralHeaderSize + nameLength, extraLength, entry);
}

ZipStatus ParseDirectory(const std::string& directory, uint64_t count,
                         std::vector<ZipEntry>* entries) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(directory.data());
    size_t at = 0;
    for (uint64_t i = 0; i < count; ++i) {
        ZipEntry entry;
        size_t used = 0;
        if (ReadCentralHeader(bytes + at, directory.size() - at, &entry, &used) != ZipStatus::Ok) {
            return ZipStatus::Corrupt;
        }
        entries->push_back(std::move(entry));
        at += used;
    }
    return ZipStatus::Ok;
}

ZipStatus Inflate(const std::string& compressed, uint64_t size, std::string* content) {
    content->assign(static_cast<size_t>(size), '\0');
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
        return ZipStatus::Corrupt;
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    stream.avail_in = static_cast<uInt>(compressed.size());
    stream.next_out = reinterpret_cast<Bytef*>(content->data());
    stream.avail_out = static_cast<uInt>(content->size());
    const int result = inflate(&stream, Z_FINISH);
    const bool complete = result == Z_STREAM_END && stream.total_out == size;
    inflateEnd(&stream);
    return complete ? ZipStatus::Ok : ZipStatus::Corrupt;
}

}  // namespace

ZipStatus ReadZipDirectory(ByteSource& source, std::vector<ZipEntry>* entries) {
    entries->clear();
    DirectoryPlace place;
    uint64_t endOffset = 0;
    if (const ZipStatus found = FindEndRecord(source, &place, &endOffset); found != ZipStatus::Ok) {
        return found;
    }
    if (place.count == kMax16 || place.size == kMax32 || place.offset == kMax32) {
        if (ReadZip64End(source, endOffset, &place) != ZipStatus::Ok) {
            return ZipStatus::Corrupt;
        }
    }
    const uint64_t fileSize = source.Size();
    if (place.offset > fileSize || place.size > fileSize - place.offset ||
        place.count > place.size / kCentralHeaderSize) {
        return ZipStatus::Corrupt;
    }
    std::string directory(static_cast<size_t>(place.size), '\0');
    if (!source.ReadAt(place.offset, directory.data(), directory.size())) {
        return ZipStatus::ReadFailed;
    }
    return ParseDirectory(directory, place.count, entries);
}

ZipStatus ExtractZipEntry(ByteSource& source, const ZipEntry& entry, uint64_t maxSize,
                          std::string* content) {
    if (entry.size > maxSize || entry.compressedSize > source.Size()) {
        return ZipStatus::TooLarge;
    }
    unsigned char local[kLocalHeaderSize];
    if (!source.ReadAt(entry.localHeaderOffset, local, sizeof(local)) ||
        Get32(local) != kLocalSignature) {
        return ZipStatus::Corrupt;
    }
    const uint64_t dataOffset =
        entry.localHeaderOffset + kLocalHeaderSize + Get16(local + 26) + Get16(local + 28);
    std::string compressed(static_cast<size_t>(entry.compressedSize), '\0');
    if (!source.ReadAt(dataOffset, compressed.data(), compressed.size())) {
        return ZipStatus::Corrupt;
    }
    if (entry.method == kZipStored) {
        if (entry.compressedSize != entry.size) {
            return ZipStatus::Corrupt;
        }
        *content = std::move(compressed);
    } else if (entry.method == kZipDeflated) {
        if (Inflate(compressed, entry.size, content) != ZipStatus::Ok) {
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

// --- Writing --------------------------------------------------------------------------------

namespace {

// The civil date (proleptic Gregorian, UTC) of a day counted from 1970-01-01.
void CivilDate(int64_t days, int64_t* year, unsigned* month, unsigned* day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shifted = (5 * dayOfYear + 2) / 153;
    *day = dayOfYear - (153 * shifted + 2) / 5 + 1;
    *month = shifted < 10 ? shifted + 3 : shifted - 9;
    *year = static_cast<int64_t>(yearOfEra) + era * 400 + (*month <= 2 ? 1 : 0);
}

// The DOS time and date fields (4 bytes) of `modified`, in UTC, to the even second below;
// before 1980 the earliest and after 2107 the latest the fields hold.
std::string DosTime(int64_t modified) {
    constexpr int64_t kEarliest = 315532800;  // 1980-01-01 00:00:00
    constexpr int64_t kLatest = 4354819198;   // 2107-12-31 23:59:58
    modified = std::clamp(modified, kEarliest, kLatest);
    int64_t year = 0;
    unsigned month = 0, day = 0;
    CivilDate(modified / 86400, &year, &month, &day);
    const auto seconds = static_cast<unsigned>(modified % 86400);
    Bytes fields;
    fields.u16(static_cast<uint16_t>((seconds / 3600) << 11 | (seconds / 60 % 60) << 5 |
                                     (seconds % 60) / 2));
    fields.u16(static_cast<uint16_t>((year - 1980) << 9 | month << 5 | day));
    return fields.data;
}

// The extended timestamp field with the modification time to the second, where its signed
// 32-bit field holds it (1970 to 2038); empty otherwise.
std::string TimestampField(int64_t modified) {
    if (modified < 0 || modified > 0x7FFFFFFF) {
        return std::string();
    }
    Bytes field;
    field.u16(kTimestampExtraId).u16(5);
    field.data.push_back('\x01');  // the modification time follows
    return field.u32(static_cast<uint32_t>(modified)).data;
}

// One central directory header. The ZIP64 extra field carries exactly the values whose 32-bit
// fields hold 0xFFFFFFFF, in the order the format fixes: size, compressed size, offset.
std::string CentralHeader(const ZipEntry& e, bool zip64Local, bool forceZip64) {
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
    extra.raw(TimestampField(e.modified));
    Bytes header;
    header.u32(kCentralSignature).u16(needed).u16(needed).u16(kUtf8Flag).u16(e.method);
    header.raw(DosTime(e.modified)).u32(e.crc);
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

ZipStreamWriter::ZipStreamWriter(ByteSink& target, const Options& given)
    : sink(target), options(given) {}

bool ZipStreamWriter::Write(const void* data, size_t size) {
    if (!sink.Write(data, size)) {
        return false;
    }
    offset += size;
    return true;
}

ZipStatus ZipStreamWriter::BeginEntry(const std::string& name, uint16_t method, bool zip64,
                                      int64_t modified) {
    if (!names.insert(name).second) {
        return ZipStatus::Duplicate;
    }
    current = Written{};
    current.entry.name = name;
    current.entry.method = method;
    current.entry.localHeaderOffset = offset;
    current.entry.modified = modified;
    current.zip64Local = zip64 || options.forceZip64;
    const bool z = current.zip64Local;
    // The ZIP64 field comes first: EndEntry finds its sizes right after the name.
    Bytes extra;
    if (z) {
        extra.u16(kZip64ExtraId).u16(16).u64(0).u64(0);
    }
    extra.raw(TimestampField(modified));
    Bytes header;
    header.u32(kLocalSignature).u16(z ? 45 : 20).u16(kUtf8Flag).u16(method);
    header.raw(DosTime(modified)).u32(0);
    header.u32(z ? kMax32 : 0).u32(z ? kMax32 : 0);
    header.u16(static_cast<uint16_t>(name.size())).u16(static_cast<uint16_t>(extra.data.size()));
    header.raw(name).raw(extra.data);
    if (!Write(header.data.data(), header.data.size())) {
        return ZipStatus::WriteFailed;
    }
    current.dataStart = offset;
    return ZipStatus::Ok;
}

ZipStatus ZipStreamWriter::Data(const void* data, size_t size) {
    return Write(data, size) ? ZipStatus::Ok : ZipStatus::WriteFailed;
}

ZipStatus ZipStreamWriter::EndEntry(uint32_t crc, uint64_t size) {
    ZipEntry& e = current.entry;
    e.crc = crc;
    e.size = size;
    e.compressedSize = offset - current.dataStart;
    Bytes fields;
    fields.u32(e.crc);
    uint64_t at = e.localHeaderOffset + 14;
    if (current.zip64Local) {
        Bytes sizes;
        sizes.u64(e.size).u64(e.compressedSize);
        if (!sink.WriteAt(at, fields.data.data(), 4) ||
            !sink.WriteAt(e.localHeaderOffset + kLocalHeaderSize + e.name.size() + 4,
                          sizes.data.data(), 16)) {
            return ZipStatus::WriteFailed;
        }
    } else {
        if (e.size >= kMax32 || e.compressedSize >= kMax32) {
            return ZipStatus::TooLarge;
        }
        fields.u32(static_cast<uint32_t>(e.compressedSize)).u32(static_cast<uint32_t>(e.size));
        if (!sink.WriteAt(at, fields.data.data(), fields.data.size())) {
            return ZipStatus::WriteFailed;
        }
    }
    written.push_back(current);
    return ZipStatus::Ok;
}

ZipStatus ZipStreamWriter::AbandonEntry() {
    names.erase(current.entry.name);
    if (!sink.Truncate(current.entry.localHeaderOffset)) {
        return ZipStatus::WriteFailed;
    }
    offset = current.entry.localHeaderOffset;
    current = Written{};
    return ZipStatus::Ok;
}

// Makes room at the end first, then moves the pieces from the last to the first: each goes no
// nearer the start than it was, so no piece is overwritten before it is read.
ZipStatus ZipStreamWriter::ConvertEntry(const Conversion& conversion) {
    const uint64_t size = offset - current.dataStart;
    const uint64_t pieces = (size + conversion.piece - 1) / conversion.piece;
    auto length = [&](uint64_t k) {
        return static_cast<size_t>(
            std::min<uint64_t>(conversion.piece, size - k * conversion.piece));
    };
    uint64_t converted = 0;
    for (uint64_t k = 0; k < pieces; ++k) {
        converted += conversion.sizeOf(length(k));
    }
    const std::string room(static_cast<size_t>(converted - size), '\0');
    if (!Write(room.data(), room.size())) {
        return ZipStatus::WriteFailed;
    }
    std::string piece, out;
    uint64_t end = current.dataStart + converted;
    for (uint64_t k = pieces; k-- > 0;) {
        piece.resize(length(k));
        out.clear();
        if (!sink.ReadAt(current.dataStart + k * conversion.piece, piece.data(), piece.size())) {
            return ZipStatus::WriteFailed;
        }
        conversion.convert(piece.data(), piece.size(), &out);
        end -= out.size();
        if (!sink.WriteAt(end, out.data(), out.size())) {
            return ZipStatus::WriteFailed;
        }
    }
    current.entry.method = conversion.method;
    Bytes method;
    method.u16(conversion.method);
    return sink.WriteAt(current.entry.localHeaderOffset + 8, method.data.data(), 2)
               ? ZipStatus::Ok
               : ZipStatus::WriteFailed;
}

ZipStatus ZipStreamWriter::AddBytes(const std::string& name, const std::string& data,
                                    int64_t modified) {
    if (ZipStatus s = BeginEntry(name, kZipDeflated, data.size() >= kZip64FromSize, modified);
        s != ZipStatus::Ok) {
        return s;
    }
    Deflater deflater(options.level);
    if (!deflater.Ready() ||
        !deflater.Feed(data.data(), data.size(), Z_FINISH,
                       [this](const char* p, size_t n) { return Write(p, n); })) {
        return ZipStatus::WriteFailed;
    }
    return EndEntry(Crc32(0, data.data(), data.size()), data.size());
}

ZipStatus ZipStreamWriter::Finish() {
    const uint64_t directoryOffset = offset;
    for (const Written& w : written) {
        const std::string header = CentralHeader(w.entry, w.zip64Local, options.forceZip64);
        if (!Write(header.data(), header.size())) {
            return ZipStatus::WriteFailed;
        }
    }
    const std::string end =
        EndRecords(written.size(), offset - directoryOffset, directoryOffset, options.forceZip64);
    return Write(end.data(), end.size()) ? ZipStatus::Ok : ZipStatus::WriteFailed;
}
