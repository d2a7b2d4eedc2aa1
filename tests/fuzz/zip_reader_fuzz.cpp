// The ZIP reader on any bytes: it answers a status and never reads outside what it was
// given; what it extracts is what the directory says.
#include <zlib.h>

#include "Memory.h"
#include "ZipRecordReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemorySource source(std::string_view(reinterpret_cast<const char*>(data), size));
    std::vector<ZipEntry> entries;
    if (ReadZipDirectory(source, &entries) != ZipStatus::Ok) {
        FUZZ_CHECK(entries.size() <= size / 46);
        return 0;
    }
    // Every entry has its own 46-byte central header within the input.
    FUZZ_CHECK(entries.size() * 46 <= size);
    for (const ZipEntry& entry : entries) {
        std::string content;
        if (ExtractZipEntry(source, entry, 1 << 20, &content) == ZipStatus::Ok) {
            FUZZ_CHECK(content.size() == entry.size);
            FUZZ_CHECK(crc32(0, reinterpret_cast<const Bytef*>(content.data()),
                             static_cast<uInt>(content.size())) == entry.crc);
            FUZZ_CHECK(entry.method == kZipStored || entry.method == kZipDeflated);
        }
    }
    return 0;
}
