// The ZIP writer against the reader: entries the input describes, deflated whole, streamed
// stored by hand, or packed through the pipeline from files of mixed stretches (random and
// repetitive, of lengths across stretch and block edges), come back with their names, in
// their order, byte for byte; the archive is the same bytes with no worker and with three; a
// repeated name is refused; an abandoned entry and a file whose pinned digest differs leave
// no trace; a file that shrinks nowhere is a stored entry; every entry carries its time (the
// DOS fields in UTC as the C library's gmtime has them, the extended timestamp field where it
// holds the time); and the ZIP64 records appear exactly when they are asked for, since no
// size, offset or count here needs them.
#include <zlib.h>

#include <algorithm>
#include <ctime>

#include "Memory.h"
#include "NameFold.h"
#include "Noise.h"
#include "ZipRecordReader.h"

namespace {

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
    const auto time = static_cast<uint32_t>(utc.tm_hour << 11 | utc.tm_min << 5 | utc.tm_sec / 2);
    const auto date = static_cast<uint32_t>((utc.tm_year + 1900 - 1980) << 9 |
                                            (utc.tm_mon + 1) << 5 | utc.tm_mday);
    return date << 16 | time;
}

// The extended timestamp field's length, with its header, for `modified`.
uint16_t TimestampLength(int64_t modified) {
    return modified >= 0 && modified <= 0x7FFFFFFF ? 9 : 0;
}

// File content of stretches: each random (no deflater shrinks it) or a repetition of bytes of
// the input, of a length the input chooses, from a few bytes to 160 KiB. `random`: every
// stretch was random.
std::string MixedContent(Input& in, bool* random) {
    std::string content;
    *random = true;
    uint32_t state = 0x9E3779B9u ^ in.Byte();
    for (int stretches = in.Byte() % 5; stretches > 0; --stretches) {
        const uint8_t kind = in.Byte();
        const size_t length = (kind & 1 ? 1024u : 1u) * (in.Byte() * 5u % 161u + 1u);
        if (kind & 2) {
            content += Noise(length, state++);
        } else {
            const std::string unit = in.Bytes(1 + in.Byte() % 16);
            *random = *random && unit.empty();
            for (size_t i = 0; i < length && !unit.empty(); ++i) {
                content.push_back(unit[i % unit.size()]);
            }
        }
    }
    return content;
}

struct Expected {
    std::string name;
    std::string content;
    int64_t modified;
    bool random;  // packed from random stretches only: a stored entry
};

// One archive as the input describes it, written with `workers` encoding threads.
struct Built {
    std::string bytes;
    std::vector<Expected> entries;
    bool zip64 = false;
};

// Writes the archive an input describes: entries written directly (whole, or streamed and
// perhaps taken back), and runs of files packed together through the pipeline.
class Builder {
  public:
    Builder(uint8_t flags, unsigned workers)
        : writer(sink, Options(flags), (flags & 1) != 0 ? ZipLimits{0, 0, 0} : kZipLimits) {
        // Limits of 0 give every entry every ZIP64 record, as sizes of 4 GiB and more would.
        built.zip64 = (flags & 1) != 0;
        pack = Options(flags);
        pack.workers = workers;
        pack.blockSize = size_t{16} << 10 << ((flags >> 1) % 4);  // 16 KiB to 128 KiB
        if (pack.blockSize > kStretchSize) {
            pack.blockSize = 2 * kStretchSize;
        }
    }

    // Packed with the next ones through one pipeline; a wrong pin takes it out again.
    void Queue(const std::string& name, int64_t modified, uint8_t kind, Input& in) {
        if (Known(name)) {
            return;
        }
        bool allRandom = false;
        const std::string content = MixedContent(in, &allRandom);
        random.push_back(allRandom);
        platform.files.push_back({content, modified});
        items.push_back({name, nullptr, {}});
        wrongPins.push_back((kind & 12) == 12);
        if (kind & 4) {
            items.back().pinned = MemoryPlatform::DigestOf(content + (wrongPins.back() ? "x" : ""));
        }
    }

    // The files queued, through one pipeline.
    void Pack() {
        if (items.empty()) {
            return;
        }
        std::vector<PackOutcome> outcomes;
        const PackResult result =
            PackFiles(writer, platform, pack, items, [&](size_t, const PackOutcome& outcome) {
                outcomes.push_back(outcome);
                return true;
            });
        FUZZ_CHECK(result.status == ZipStatus::Ok || result.status == ZipStatus::Duplicate);
        for (size_t i = 0; i < outcomes.size(); ++i) {
            const bool mismatch = outcomes[i].kind == PackOutcome::Kind::Mismatch;
            FUZZ_CHECK(mismatch == wrongPins[i]);
            if (!mismatch) {
                built.entries.push_back({items[i].name, platform.files[i].bytes,
                                         platform.files[i].modified, random[i]});
            }
        }
        items.clear();
        wrongPins.clear();
        random.clear();
        platform.files.clear();
    }

    // One entry written directly: whole (AddBytes), or streamed and, now and then, taken back.
    void Direct(const std::string& name, int64_t modified, uint8_t kind, Input& in) {
        Pack();
        const std::string content = in.Bytes(in.Byte() * 8u + in.Byte() % 8);
        const bool repeated = Known(name);
        ZipStatus added;
        if ((kind & 3) == 1) {
            added = Streamed(name, content, modified, (kind & 12) == 12);
            if (added == ZipStatus::Stopped) {
                return;  // gone: its name is free again, its bytes cut off
            }
        } else {
            added = writer.AddBytes(name, content, modified);
        }
        FUZZ_CHECK(added == (repeated ? ZipStatus::Duplicate : ZipStatus::Ok));
        if (!repeated) {
            built.entries.push_back({name, content, modified, false});
        }
    }

    Built Finish() {
        Pack();
        FUZZ_CHECK(writer.Finish() == ZipStatus::Ok);
        built.bytes = std::move(sink.bytes);
        return std::move(built);
    }

  private:
    static ZipOptions Options(uint8_t flags) {
        ZipOptions options;
        options.level = std::min(flags >> 4, 9);
        return options;
    }

    // Stored in pieces of 100 bytes; Stopped when `abandon` took it back.
    ZipStatus Streamed(const std::string& name, const std::string& content, int64_t modified,
                       bool abandon) {
        const size_t start = sink.bytes.size();
        ZipStatus added = writer.BeginEntry(name, kZipStored, false, modified);
        for (size_t at = 0; added == ZipStatus::Ok && at < content.size(); at += 100) {
            added = writer.Data(content.data() + at, std::min<size_t>(100, content.size() - at));
        }
        if (added == ZipStatus::Ok && abandon) {
            FUZZ_CHECK(writer.AbandonEntry() == ZipStatus::Ok);
            FUZZ_CHECK(sink.bytes.size() == start);
            return ZipStatus::Stopped;
        }
        return added == ZipStatus::Ok
                   ? writer.EndEntry(Crc32(0, content.data(), content.size()), content.size())
                   : added;
    }

    // A name already written or queued, in any spelling that Windows extracts to the same file.
    bool Known(const std::string& name) const {
        const std::u16string key = FileNameKey(name);
        return std::any_of(built.entries.begin(), built.entries.end(),
                           [&](const Expected& e) { return FileNameKey(e.name) == key; }) ||
               std::any_of(items.begin(), items.end(),
                           [&](const PackItem& i) { return FileNameKey(i.name) == key; });
    }

    MemorySink sink;
    ZipStreamWriter writer;
    MemoryPlatform platform;
    ZipOptions pack;
    Built built;
    std::vector<PackItem> items;
    std::vector<bool> wrongPins, random;
};

Built Build(const uint8_t* data, size_t size, unsigned workers) {
    Input in{data, size};
    const uint8_t flags = in.Byte();
    Builder builder(flags, workers);
    for (int count = 1 + (flags >> 3 & 7); count > 0 && in.size > 0; --count) {
        const std::string name = in.Bytes(in.Byte() % 16);
        const auto base = static_cast<int32_t>(in.Word());
        const int64_t modified = static_cast<int64_t>(base) * (flags & 8 ? 3 : 1);
        const uint8_t kind = in.Byte();
        if ((kind & 3) == 3) {
            builder.Queue(name, modified, kind, in);
        } else {
            builder.Direct(name, modified, kind, in);
        }
    }
    return builder.Finish();
}

// Every entry read back; its local header's extra fields and time.
void CheckEntries(const Built& built, const std::vector<ZipEntry>& entries, MemorySource& source) {
    FUZZ_CHECK(entries.size() == built.entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        const Expected& expected = built.entries[i];
        std::string content;
        FUZZ_CHECK(entries[i].name == expected.name);
        FUZZ_CHECK(ExtractZipEntry(source, entries[i], 1 << 24, &content) == ZipStatus::Ok);
        FUZZ_CHECK(content == expected.content);
        // What shrinks nowhere is stored.
        if (expected.random) {
            FUZZ_CHECK(entries[i].method == kZipStored);
        }
        const size_t local = static_cast<size_t>(entries[i].localHeaderOffset);
        FUZZ_CHECK(Le16(built.bytes, local + 28) ==
                   (built.zip64 ? 20 : 0) + TimestampLength(expected.modified));
        FUZZ_CHECK(Le32(built.bytes, local + 10) == DosFields(expected.modified));
        if (TimestampLength(expected.modified) != 0) {
            const size_t field = local + 30 + entries[i].name.size() + (built.zip64 ? 20 : 0);
            FUZZ_CHECK(Le16(built.bytes, field) == 0x5455 &&
                       Le32(built.bytes, field + 5) == static_cast<uint32_t>(expected.modified));
        }
    }
}

// The end records and the central headers: ZIP64 exactly when forced.
void CheckDirectory(const Built& built) {
    const std::string& bytes = built.bytes;
    const size_t end = bytes.size() - 22;
    FUZZ_CHECK(Le32(bytes, end) == 0x06054b50);
    FUZZ_CHECK(Le16(bytes, end + 10) == (built.zip64 ? 0xFFFF : built.entries.size()));
    FUZZ_CHECK((Le32(bytes, end + 16) == 0xFFFFFFFFu) == built.zip64);
    FUZZ_CHECK((end >= 20 && Le32(bytes, end - 20) == 0x07064b50) == built.zip64);
    size_t at = built.zip64 ? Le32(bytes, static_cast<size_t>(Le32(bytes, end - 12)) + 48)
                            : Le32(bytes, end + 16);
    for (const Expected& expected : built.entries) {
        FUZZ_CHECK(Le32(bytes, at) == 0x02014b50);
        const uint16_t nameLength = Le16(bytes, at + 28), extraLength = Le16(bytes, at + 30);
        FUZZ_CHECK(Le32(bytes, at + 12) == DosFields(expected.modified));
        const uint16_t time = TimestampLength(expected.modified);
        if (built.zip64) {
            FUZZ_CHECK(Le32(bytes, at + 20) == 0xFFFFFFFFu && Le32(bytes, at + 24) == 0xFFFFFFFFu);
            FUZZ_CHECK(Le32(bytes, at + 42) == 0xFFFFFFFFu && extraLength == 28 + time);
        } else {
            FUZZ_CHECK(Le32(bytes, at + 24) == expected.content.size() && extraLength == time);
        }
        at += 46 + nameLength + extraLength;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Built built = Build(data, size, 0);
    FUZZ_CHECK(Build(data, size, 3).bytes == built.bytes);
    MemorySource source(built.bytes);
    std::vector<ZipEntry> entries;
    FUZZ_CHECK(ReadZipDirectory(source, &entries) == ZipStatus::Ok);
    CheckEntries(built, entries, source);
    CheckDirectory(built);
    return 0;
}
