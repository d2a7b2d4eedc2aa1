#include "ZipWriter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "MemoryArchive.h"
#include "ZipFileTesting.h"
#include "ZipReader.h"

namespace {

TEST(ZipWriter, RoundTripsStoredDeflatedAndEmptyEntries) {
    for (bool zip64 : {false, true}) {
        TempDir dir;
        const std::string text = Pattern(3 << 20, true);
        const std::string noise = Pattern((1 << 20) + 17, false);
        WriteTextFile(dir / L"text.bin", text);
        WriteTextFile(dir / L"noise.bin", noise);
        WriteTextFile(dir / L"empty.bin", "");
        // ZIP64 records for every entry from limits of 0, as for sizes of 4 GiB and more.
        const ZipLimits limits = zip64 ? ZipLimits{0, 0, 0} : kZipLimits;
        ASSERT_TRUE(WriteArchive(dir / L"a.zip", ZipOptions{}, limits,
                                 {{"vendor/text.bin", dir / L"text.bin"},
                                  {"vendor/noise.bin", dir / L"noise.bin"},
                                  {"vendor/empty.bin", dir / L"empty.bin"}},
                                 "manifest \xE2\x9C\x93"));
        ZipReader reader;
        ASSERT_EQ(reader.Open(dir / L"a.zip"), ZipStatus::Ok);
        ASSERT_EQ(reader.Entries().size(), 4u);
        EXPECT_EQ(reader.Entries()[1].method, 8) << "compressible data is deflated";
        EXPECT_EQ(reader.Entries()[2].method, 0) << "incompressible data is stored";
        std::string content;
        ASSERT_EQ(reader.Extract("vendor/text.bin", 1ull << 30, &content), ZipStatus::Ok);
        EXPECT_EQ(content, text);
        ASSERT_EQ(reader.Extract("vendor/noise.bin", 1ull << 30, &content), ZipStatus::Ok);
        EXPECT_EQ(content, noise);
        ASSERT_EQ(reader.Extract("vendor/empty.bin", 10, &content), ZipStatus::Ok);
        EXPECT_EQ(content, "");
        ASSERT_EQ(reader.Extract("manifest.txt", 100, &content), ZipStatus::Ok);
        EXPECT_EQ(content, "manifest \xE2\x9C\x93");
        EXPECT_EQ(reader.Extract("missing", 100, &content), ZipStatus::NotFound);
        EXPECT_EQ(reader.Extract("vendor/text.bin", 100, &content), ZipStatus::TooLarge);
    }
}

TEST(ZipWriter, AWriteThatFailsFailsTheEntryWithTheSystemsError) {
    TempDir dir;
    WriteTextFile(dir / L"file.bin", Pattern(300000, true));
    WriteTextFile(dir / L"a.zip", "");
    // A handle without write access: every write is refused, as on a full or vanished disk.
    const UniqueFile file(CreateFileW((dir / L"a.zip").c_str(), GENERIC_READ, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    for (bool fromFile : {false, true}) {
        ZipWriter writer(file.Get(), ZipOptions{}, kZipLimits);
        const ZipStatus status =
            fromFile ? writer.AddFile("f", dir / L"file.bin") : writer.AddBytes("b", "bytes", 0);
        EXPECT_EQ(status, ZipStatus::WriteFailed) << fromFile;
        EXPECT_EQ(writer.SystemError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << fromFile;
    }
}

TEST(ZipWriter, AReadBackThatFailsIsReportedWithTheSystemsError) {
    TempDir dir;
    // Stored at first, then shrinking: the entry is read back to be rewritten in place.
    WriteTextFile(dir / L"file.bin", Pattern(200000, false) + Pattern(200000, true));
    const UniqueFile file(CreateFileW((dir / L"a.zip").c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ZipOptions options;
    options.blockSize = 64 << 10;
    ZipWriter writer(file.Get(), options, kZipLimits);
    EXPECT_EQ(writer.AddFile("f", dir / L"file.bin"), ZipStatus::WriteFailed);
    EXPECT_EQ(writer.SystemError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// A package is durable or it fails: a flush that fails, in the background as the archive grows
// (and no later flush asks after it) or the last one, fails Finish with the system's error.
TEST(ZipWriter, AFlushThatFailsAtAnyTimeFailsTheArchive) {
    TempDir dir;
    WriteTextFile(dir / L"file.bin", Pattern(3 << 20, false));
    for (bool last : {false, true}) {
        const UniqueFile file(CreateFileW((dir / L"a.zip").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                          nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ZipOptions options;
        options.flushEvery = 2 << 20;  // one flush in the background, then the last one
        std::atomic<int> calls{0};
        ZipWriter writer(file.Get(), options, kZipLimits, [&](HANDLE) -> DWORD {
            return ++calls == (last ? 2 : 1) ? ERROR_DISK_FULL : 0;
        });
        ASSERT_EQ(writer.AddFile("f", dir / L"file.bin"), ZipStatus::Ok);
        EXPECT_EQ(writer.Finish(), ZipStatus::WriteFailed) << (last ? "last" : "background");
        EXPECT_EQ(writer.SystemError(), static_cast<DWORD>(ERROR_DISK_FULL));
        EXPECT_EQ(calls.load(), last ? 2 : 1) << "a failed background flush needs no last one";
    }
    // The same through the engine's sink, as the memory archives have it.
    MemorySink sink;
    sink.failSyncAt = 1;
    ZipStreamWriter writer(sink, ZipOptions{}, kZipLimits);
    ASSERT_EQ(writer.AddBytes("a", "bytes", 0), ZipStatus::Ok);
    EXPECT_EQ(writer.Finish(), ZipStatus::WriteFailed);
}

// One name as Windows extracts it: letter case (beyond ASCII too) and trailing dots and blanks
// of each step do not make another file.
TEST(ZipWriter, TheWriterRefusesASecondEntryOfOneName) {
    TempDir dir;
    WriteTextFile(dir / L"file.bin", "file");
    {
        const UniqueFile file(CreateFileW((dir / L"a.zip").c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ZipWriter writer(file.Get(), ZipOptions{}, kZipLimits);
        ASSERT_EQ(writer.AddBytes("a/x", "first", 0), ZipStatus::Ok);
        EXPECT_EQ(writer.AddBytes("a/x", "second", 0), ZipStatus::Duplicate);
        EXPECT_EQ(writer.AddFile("a/x", dir / L"file.bin"), ZipStatus::Duplicate);
        for (const char* spelling : {"a/X", "A/x.", "a. /x ..", "a/x. . "}) {
            EXPECT_EQ(writer.AddFile(spelling, dir / L"file.bin"), ZipStatus::Duplicate)
                << spelling;
        }
        ASSERT_EQ(writer.AddBytes("a/\xC3\xA9", "e acute", 0), ZipStatus::Ok);
        EXPECT_EQ(writer.AddBytes("A/\xC3\x89", "E acute", 0), ZipStatus::Duplicate);
        EXPECT_EQ(writer.AddFile("a/y", dir / L"file.bin"), ZipStatus::Ok);
        // Steps stay steps: "ab/c" is not "a/bc".
        EXPECT_EQ(writer.AddBytes("ab/c", "ab c", 0), ZipStatus::Ok);
        EXPECT_EQ(writer.AddBytes("a/bc", "a bc", 0), ZipStatus::Ok);
        ASSERT_EQ(writer.Finish(), ZipStatus::Ok);
    }
    ZipReader reader;
    ASSERT_EQ(reader.Open(dir / L"a.zip"), ZipStatus::Ok);
    ASSERT_EQ(reader.Entries().size(), 5u);
    std::string content;
    ASSERT_EQ(reader.Extract("a/x", 100, &content), ZipStatus::Ok);
    EXPECT_EQ(content, "first");
}

// Sizes around the stretches (64 KiB) and blocks: one stretch, one byte more, exactly one
// block, a byte beyond, and many blocks across several reads.
std::vector<size_t> BoundarySizes(size_t block) {
    return {1000, 64 << 10, (64 << 10) + 1, block, block + 1, 37 * block + 4321};
}

TEST(ZipWriter, FilesOfEverySizeAreTheSameBytesWithOneWorkerOrSeveral) {
    TempDir dir;
    constexpr size_t kBlock = 128 << 10;  // small blocks: many boundaries in little data
    const std::vector<size_t> sizes = BoundarySizes(kBlock);
    const std::string content = Pattern(sizes.back(), true);
    std::vector<std::pair<std::string, std::wstring>> files;
    for (size_t size : sizes) {
        const std::wstring source = dir / (L"f" + std::to_wstring(size));
        WriteTextFile(source, content.substr(0, size));
        files.emplace_back("f" + std::to_string(size), source);
    }
    std::string first;
    for (unsigned workers : {1u, 2u, 5u}) {
        const std::wstring archive = dir / (L"w" + std::to_wstring(workers) + L".zip");
        ZipOptions options;
        options.workers = workers;
        options.blockSize = kBlock;
        ASSERT_TRUE(WriteArchive(archive, options, kZipLimits, files, "")) << workers;
        ZipReader reader;
        ASSERT_EQ(reader.Open(archive), ZipStatus::Ok);
        for (size_t i = 0; i < sizes.size(); ++i) {
            const ZipEntry& entry = reader.Entries()[i + 1];
            EXPECT_EQ(entry.method, 8) << sizes[i];
            std::string read;
            ASSERT_EQ(reader.Extract(entry.name, 1 << 30, &read), ZipStatus::Ok) << sizes[i];
            EXPECT_TRUE(read == content.substr(0, sizes[i])) << sizes[i];
        }
        // Each block's output depends only on the block and the bytes before it, never on
        // which thread made it: the archive is the same bytes whatever the number of workers.
        const std::string bytes = ReadTextFile(archive);
        if (first.empty()) {
            first = bytes;
        } else {
            EXPECT_TRUE(bytes == first) << workers << " workers";
        }
    }
}

}  // namespace
