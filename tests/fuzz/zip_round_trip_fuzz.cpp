// The ZIP writer against the reader: entries the input describes, deflated whole, streamed
// stored or deflated in blocks on worker threads, come back with their names, in their
// order, byte for byte; blocks deflated by threads are the same bytes as on one thread; a
// repeated name is refused; and the ZIP64 records appear exactly when they are asked for,
// since no size, offset or count here needs them.
#include <zlib.h>

#include <algorithm>

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
    for (int count = 1 + (flags >> 1 & 7); count > 0 && in.size > 0; --count) {
        const std::string name = in.Bytes(in.Byte() % 16);
        // Up to 2 KiB from the input, stretched to cross blocks of 32 KiB when asked.
        std::string content = in.Bytes(in.Byte() * 8u + in.Byte() % 8);
        const uint8_t kind = in.Byte();
        const bool stored = (kind & 3) == 1;
        const bool blocks = (kind & 3) == 2;
        for (int copies = (kind >> 4) % 7; blocks && copies > 0 && !content.empty(); --copies) {
            content += content;
        }
        const bool repeated = std::any_of(expected.begin(), expected.end(),
                                          [&](const auto& e) { return e.first == name; });
        ZipStatus added;
        if (blocks) {
            added = writer.BeginEntry(name, kZipDeflated, false);
            if (added == ZipStatus::Ok) {
                const std::string threaded = DeflateInBlocks(content, 3, options.level, &writer);
                FUZZ_CHECK(threaded == DeflateInBlocks(content, 0, options.level, nullptr));
                added = writer.EndEntry(Crc32(0, content.data(), content.size()), content.size());
            }
        } else if (stored) {
            added = writer.BeginEntry(name, kZipStored, false);
            for (size_t at = 0; added == ZipStatus::Ok && at < content.size(); at += 100) {
                added =
                    writer.Data(content.data() + at, std::min<size_t>(100, content.size() - at));
            }
            if (added == ZipStatus::Ok) {
                added = writer.EndEntry(Crc32(0, content.data(), content.size()), content.size());
            }
        } else {
            added = writer.AddBytes(name, content);
        }
        FUZZ_CHECK(added == (repeated ? ZipStatus::Duplicate : ZipStatus::Ok));
        if (!repeated) {
            expected.emplace_back(name, content);
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
        // The local header carries the ZIP64 extra field exactly when forced.
        const size_t local = static_cast<size_t>(entries[i].localHeaderOffset);
        FUZZ_CHECK(Le16(sink.bytes, local + 28) == (options.forceZip64 ? 20 : 0));
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
        if (options.forceZip64) {
            FUZZ_CHECK(Le32(bytes, at + 20) == 0xFFFFFFFFu && Le32(bytes, at + 24) == 0xFFFFFFFFu);
            FUZZ_CHECK(Le32(bytes, at + 42) == 0xFFFFFFFFu && extraLength == 28);
        } else {
            FUZZ_CHECK(Le32(bytes, at + 24) == expected[i].second.size() && extraLength == 0);
        }
        at += 46 + nameLength + extraLength;
    }
    return 0;
}
