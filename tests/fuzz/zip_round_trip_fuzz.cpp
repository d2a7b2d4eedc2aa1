// The ZIP writer against the reader: entries the input describes, deflated whole, streamed
// stored or deflated in blocks on worker threads, come back with their names, in their
// order, byte for byte; blocks deflated by threads are the same bytes as on one thread; a
// repeated name is refused; an abandoned entry leaves no trace; every entry carries its time
// (the DOS fields in UTC as the C library's gmtime has them, the extended timestamp field
// where it holds the time); and the ZIP64 records appear exactly when they are asked for,
// since no size, offset or count here needs them.
#include <zlib.h>

#include <algorithm>
#include <ctime>

#include "BlockDeflate.h"
#include "Crc32.h"
#include "Memory.h"

namespace {

struct Input {
    const uint8_t* data;
    size_t size;
    uint8_t Byte() {
        if (size == 0) {
            return 0;
        }
        --size;
        return *data++;
    }
    std::string Bytes(size_t n) {
        n = std::min(n, size);
        std::string out(reinterpret_cast<const char*>(data), n);
        data += n;
        size -= n;
        return out;
    }
};

uint32_t Le32(const std::string& bytes, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) {
        v = (v << 8) | static_cast<uint8_t>(bytes[at + i]);
    }
    return v;
}

uint16_t Le16(const std::string& bytes, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) |
                                 (static_cast<uint8_t>(bytes[at + 1]) << 8));
}

// The DOS time and date fields of `modified` by the C library's clock, clamped as the format
// requires.
uint32_t DosFields(int64_t modified) {
    const time_t clamped = std::clamp<int64_t>(modified, 315532800, 4354819198);
    tm utc{};
    gmtime_r(&clamped, &utc);
    const uint32_t time =
        static_cast<uint32_t>(utc.tm_hour << 11 | utc.tm_min << 5 | utc.tm_sec / 2);
    const uint32_t date = static_cast<uint32_t>((utc.tm_year + 1900 - 1980) << 9 |
                                                (utc.tm_mon + 1) << 5 | utc.tm_mday);
    return date << 16 | time;
}

// The extended timestamp field's length, with its header, for `modified`.
uint16_t TimestampLength(int64_t modified) {
    return modified >= 0 && modified <= 0x7FFFFFFF ? 9 : 0;
}

// `content` deflated in blocks of 32 KiB by `workers` threads (0: on this one), written to
// `writer` as one entry's bytes; also answers them.
std::string DeflateInBlocks(const std::string& content, unsigned workers, int level,
                            ZipStreamWriter* writer) {
    std::string out;
    BlockDeflater deflater(level, 32 << 10, workers, [&](const char* p, size_t n) {
        out.append(p, n);
        return writer == nullptr || writer->Data(p, n) == ZipStatus::Ok;
    });
    for (size_t at = 0; at < content.size(); at += 5000) {
        FUZZ_CHECK(deflater.Feed(content.data() + at, std::min<size_t>(5000, content.size() - at)));
    }
    FUZZ_CHECK(deflater.Finish());
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    const uint8_t flags = in.Byte();
    ZipStreamWriter::Options options;
    options.forceZip64 = (flags & 1) != 0;
    options.level = flags >> 4 > 9 ? 9 : flags >> 4;
    MemorySink sink;
    ZipStreamWriter writer(sink, options);
    std::vector<std::pair<std::string, std::string>> expected;
    std::vector<int64_t> times;
    for (int count = 1 + (flags >> 1 & 7); count > 0 && in.size > 0; --count) {
        const std::string name = in.Bytes(in.Byte() % 16);
        // Any time a signed 32-bit value holds, and far beyond the DOS fields' years.
        const auto base =
            static_cast<int32_t>(in.Byte() << 24 | in.Byte() << 16 | in.Byte() << 8 | in.Byte());
        const int64_t modified = static_cast<int64_t>(base) * (flags & 8 ? 3 : 1);
        // Up to 2 KiB from the input, stretched to cross blocks of 32 KiB when asked.
        std::string content = in.Bytes(in.Byte() * 8u + in.Byte() % 8);
        const uint8_t kind = in.Byte();
        const bool stored = (kind & 3) == 1;
        const bool blocks = (kind & 3) == 2;
        const bool abandoned = (kind & 12) == 12;
        for (int copies = (kind >> 4) % 7; blocks && copies > 0 && !content.empty(); --copies) {
            content += content;
        }
        const bool repeated = std::any_of(expected.begin(), expected.end(),
                                          [&](const auto& e) { return e.first == name; });
        ZipStatus added;
        if (blocks) {
            added = writer.BeginEntry(name, kZipDeflated, false, modified);
            if (added == ZipStatus::Ok) {
                const std::string threaded = DeflateInBlocks(content, 3, options.level, &writer);
                FUZZ_CHECK(threaded == DeflateInBlocks(content, 0, options.level, nullptr));
                added = writer.EndEntry(Crc32(0, content.data(), content.size()), content.size());
            }
        } else if (stored) {
            const size_t start = sink.bytes.size();
            added = writer.BeginEntry(name, kZipStored, false, modified);
            for (size_t at = 0; added == ZipStatus::Ok && at < content.size(); at += 100) {
                added =
                    writer.Data(content.data() + at, std::min<size_t>(100, content.size() - at));
            }
            if (added == ZipStatus::Ok && abandoned) {
                FUZZ_CHECK(writer.AbandonEntry() == ZipStatus::Ok);
                FUZZ_CHECK(sink.bytes.size() == start);
                continue;  // gone: its name is free again, its bytes cut off
            }
            if (added == ZipStatus::Ok) {
                added = writer.EndEntry(Crc32(0, content.data(), content.size()), content.size());
            }
        } else {
            added = writer.AddBytes(name, content, modified);
        }
        FUZZ_CHECK(added == (repeated ? ZipStatus::Duplicate : ZipStatus::Ok));
        if (!repeated) {
            expected.emplace_back(name, content);
            times.push_back(modified);
        }
    }
    FUZZ_CHECK(writer.Finish() == ZipStatus::Ok);

    MemorySource source(sink.bytes);
    std::vector<ZipEntry> entries;
    FUZZ_CHECK(ReadZipDirectory(source, &entries) == ZipStatus::Ok);
    FUZZ_CHECK(entries.size() == expected.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        std::string content;
        FUZZ_CHECK(entries[i].name == expected[i].first);
        FUZZ_CHECK(ExtractZipEntry(source, entries[i], 1 << 20, &content) == ZipStatus::Ok);
        FUZZ_CHECK(content == expected[i].second);
        // The local header carries the ZIP64 extra field exactly when forced, and the time.
        const size_t local = static_cast<size_t>(entries[i].localHeaderOffset);
        FUZZ_CHECK(Le16(sink.bytes, local + 28) ==
                   (options.forceZip64 ? 20 : 0) + TimestampLength(times[i]));
        FUZZ_CHECK(Le32(sink.bytes, local + 10) == DosFields(times[i]));
        if (TimestampLength(times[i]) != 0) {
            const size_t field =
                local + 30 + entries[i].name.size() + (options.forceZip64 ? 20 : 0);
            FUZZ_CHECK(Le16(sink.bytes, field) == 0x5455 &&
                       Le32(sink.bytes, field + 5) == times[i]);
        }
    }
    // The end record is the last 22 bytes: its 16- and 32-bit fields say "see ZIP64" exactly
    // when forced, and otherwise hold the true count.
    const std::string& bytes = sink.bytes;
    const size_t end = bytes.size() - 22;
    FUZZ_CHECK(Le32(bytes, end) == 0x06054b50);
    FUZZ_CHECK(Le16(bytes, end + 10) == (options.forceZip64 ? 0xFFFF : expected.size()));
    FUZZ_CHECK((Le32(bytes, end + 16) == 0xFFFFFFFFu) == options.forceZip64);
    FUZZ_CHECK((end >= 20 && Le32(bytes, end - 20) == 0x07064b50) == options.forceZip64);
    // Each central header: forced, its sizes and offset are all in the ZIP64 extra field (28
    // bytes: id, length, three 64-bit values); otherwise in its own 32-bit fields, no extra.
    size_t at = options.forceZip64 ? Le32(bytes, static_cast<size_t>(Le32(bytes, end - 12)) + 48)
                                   : Le32(bytes, end + 16);
    for (size_t i = 0; i < entries.size(); ++i) {
        FUZZ_CHECK(Le32(bytes, at) == 0x02014b50);
        const uint16_t nameLength = Le16(bytes, at + 28), extraLength = Le16(bytes, at + 30);
        FUZZ_CHECK(Le32(bytes, at + 12) == DosFields(times[i]));
        if (options.forceZip64) {
            FUZZ_CHECK(Le32(bytes, at + 20) == 0xFFFFFFFFu && Le32(bytes, at + 24) == 0xFFFFFFFFu);
            FUZZ_CHECK(Le32(bytes, at + 42) == 0xFFFFFFFFu &&
                       extraLength == 28 + TimestampLength(times[i]));
        } else {
            FUZZ_CHECK(Le32(bytes, at + 24) == expected[i].second.size() &&
                       extraLength == TimestampLength(times[i]));
        }
        at += 46 + nameLength + extraLength;
    }
    return 0;
}
