#include "ZipRecordReader.h"

#include <algorithm>

#include "ZipBytes.h"
#include "ZlibStream.h"

using namespace zipbytes;

namespace {

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
    InflateStream owned;
    if (!owned.Ready()) {
        return ZipStatus::Corrupt;
    }
    z_stream& stream = *owned.Get();
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    stream.avail_in = static_cast<uInt>(compressed.size());
    stream.next_out = reinterpret_cast<Bytef*>(content->data());
    stream.avail_out = static_cast<uInt>(content->size());
    const int result = inflate(&stream, Z_FINISH);
    return result == Z_STREAM_END && stream.total_out == size ? ZipStatus::Ok : ZipStatus::Corrupt;
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
