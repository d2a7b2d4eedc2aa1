#include "ZipReader.h"

#include <gtest/gtest.h>

#include <string>

#include "ZipFileTesting.h"

namespace {

// A small archive of one deflated entry "a", as its bytes.
std::string GoodArchive(const TempDir& dir) {
    WriteTextFile(dir / L"src.bin", Pattern(100000, true));
    EXPECT_TRUE(
        WriteArchive(dir / L"good.zip", ZipOptions{}, kZipLimits, {{"a", dir / L"src.bin"}}, "m"));
    return ReadTextFile(dir / L"good.zip");
}

// What reading entry "a" of an archive of `bytes` gives: the open's status, or the extract's.
ZipStatus ReadEntry(const TempDir& dir, const std::string& bytes, const char* entry = "a") {
    WriteTextFile(dir / L"test.zip", bytes);
    ZipReader reader;
    if (const ZipStatus opened = reader.Open(dir / L"test.zip"); opened != ZipStatus::Ok) {
        return opened;
    }
    std::string content;
    return reader.Extract(entry, 1 << 20, &content);
}

TEST(ZipReader, RefusesTruncatedFlippedAndForeignArchives) {
    TempDir dir;
    const std::string good = GoodArchive(dir);
    ZipReader reader;
    EXPECT_EQ(reader.Open(dir / L"missing.zip"), ZipStatus::OpenFailed);
    EXPECT_EQ(ReadEntry(dir, good), ZipStatus::Ok);
    // Every truncation is refused or fails its CRC, never read as something else.
    for (size_t keep : {size_t{0}, size_t{10}, good.size() / 2, good.size() - 1}) {
        EXPECT_NE(ReadEntry(dir, good.substr(0, keep)), ZipStatus::Ok) << keep;
    }
    // Flipped bytes in the data make the CRC fail.
    std::string flipped = good;
    flipped[200] ^= 0x55;
    EXPECT_NE(ReadEntry(dir, flipped), ZipStatus::Ok);
    // Not a ZIP at all.
    EXPECT_EQ(ReadEntry(dir, std::string(5000, 'x')), ZipStatus::Corrupt);
}

// A central header without its signature, and a directory too short for its one header.
TEST(ZipReader, RefusesABrokenCentralDirectory) {
    TempDir dir;
    const std::string good = GoodArchive(dir);
    const size_t central = good.rfind(std::string("PK\x01\x02", 4));
    const size_t endRecord = good.rfind(std::string("PK\x05\x06", 4));
    ASSERT_NE(central, std::string::npos);
    ASSERT_NE(endRecord, std::string::npos);
    std::string noSignature = good;
    noSignature[central + 3] = 0x03;
    std::string tooShort = good;
    tooShort[endRecord + 12] = 20;  // the directory's size, little-endian
    tooShort[endRecord + 13] = tooShort[endRecord + 14] = tooShort[endRecord + 15] = 0;
    for (const std::string& bad : {noSignature, tooShort}) {
        EXPECT_EQ(ReadEntry(dir, bad), ZipStatus::Corrupt);
    }
}

// Data placed beyond the end of the file, by an extra field longer than the file: the bytes
// are not there, even where zeros would pass the CRC.
TEST(ZipReader, RefusesDataBeyondTheEndOfTheFile) {
    TempDir dir;
    WriteTextFile(dir / L"zero.bin", std::string(1, '\0'));  // stored: one byte does not shrink
    ASSERT_TRUE(WriteArchive(dir / L"zero.zip", ZipOptions{}, kZipLimits,
                             {{"zero", dir / L"zero.bin"}}, "m"));
    std::string beyond = ReadTextFile(dir / L"zero.zip");
    EXPECT_EQ(ReadEntry(dir, beyond, "zero"), ZipStatus::Ok);
    const size_t local = beyond.find(std::string("PK\x03\x04", 4), 1);  // the file's header
    ASSERT_NE(local, std::string::npos);
    beyond[local + 28] = beyond[local + 29] = '\xFF';  // its extra field's length
    EXPECT_EQ(ReadEntry(dir, beyond, "zero"), ZipStatus::Corrupt);
}

}  // namespace
