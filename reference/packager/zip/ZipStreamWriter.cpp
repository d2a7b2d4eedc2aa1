#include "ZipStreamWriter.h"

#include <algorithm>

#include "Crc32.h"
#include "NameFold.h"
#include "StretchCodec.h"
#include "ZipBytes.h"

using namespace zipbytes;

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
std::string CentralHeader(const ZipEntry& e, bool zip64Local, const ZipLimits& limits) {
    const bool bigSize = e.size >= limits.field32;
    const bool bigCompressed = e.compressedSize >= limits.field32;
    const bool bigOffset = e.localHeaderOffset >= limits.field32;
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
std::string EndRecords(uint64_t count, uint64_t size, uint64_t offset, const ZipLimits& limits) {
    const bool zip64End =
        count >= limits.count16 || size >= limits.field32 || offset >= limits.field32;
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

ZipStreamWriter::ZipStreamWriter(ByteSink& target, const ZipOptions& given, const ZipLimits& bounds)
    : sink(target), options(given), limits(bounds) {}

bool ZipStreamWriter::Write(const void* data, size_t size) {
    if (!sink.Write(data, size)) {
        return false;
    }
    offset += size;
    return true;
}

ZipStatus ZipStreamWriter::BeginEntry(const std::string& name, uint16_t method,
                                      uint64_t expectedSize, int64_t modified) {
    if (!names.insert(FileNameKey(name)).second) {
        return ZipStatus::Duplicate;
    }
    current = Written{};
    current.entry.name = name;
    current.entry.method = method;
    current.entry.localHeaderOffset = offset;
    current.entry.modified = modified;
    current.zip64Local = expectedSize >= limits.localFrom;
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
    names.erase(FileNameKey(current.entry.name));
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
    if (ZipStatus s = BeginEntry(name, kZipDeflated, data.size(), modified); s != ZipStatus::Ok) {
        return s;
    }
    // The one deflater of the engine, as for files: the bytes as one block that ends the stream.
    StretchCodec codec(options.level);
    std::string out;
    const BlockEncoder::Result encoded =
        codec.Encode(nullptr, 0, data.data(), data.size(), true, &out);
    if (!encoded.ok) {
        return ZipStatus::OutOfMemory;
    }
    if (!encoded.deflated) {
        FrameStored(data.data(), data.size(), true, &out);
    }
    if (!Write(out.data(), out.size())) {
        return ZipStatus::WriteFailed;
    }
    return EndEntry(Crc32(0, data.data(), data.size()), data.size());
}

ZipStatus ZipStreamWriter::Finish() {
    const uint64_t directoryOffset = offset;
    for (const Written& w : written) {
        const std::string header = CentralHeader(w.entry, w.zip64Local, limits);
        if (!Write(header.data(), header.size())) {
            return ZipStatus::WriteFailed;
        }
    }
    const std::string end =
        EndRecords(written.size(), offset - directoryOffset, directoryOffset, limits);
    return Write(end.data(), end.size()) && sink.Sync() ? ZipStatus::Ok : ZipStatus::WriteFailed;
}
