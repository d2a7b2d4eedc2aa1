#include "PieceReader.h"

#include <gtest/gtest.h>

#include <string>

#include "Crc32.h"
#include "TestEnv.h"
#include "WinResources.h"

namespace {

// Reads the whole file in pieces of 1000 bytes: the content, the CRC the last piece carried,
// and whether every call after the end answered an empty piece without a failure.
struct Reading {
    std::string content;
    uint32_t crc = 0;
    bool endsCleanly = false;
};

Reading ReadAll(const std::wstring& path, bool ownThread) {
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    PieceReader reader(file.Get(), 1000, 3, ownThread, nullptr);
    Reading reading;
    PieceReader::Piece piece;
    while (reader.Next(&piece) && piece.size > 0) {
        reading.content.append(piece.data, piece.size);
        reading.crc = piece.crc;
    }
    reading.endsCleanly = piece.size == 0 && piece.crc == reading.crc;
    for (int i = 0; i < 2; ++i) {
        reading.endsCleanly = reading.endsCleanly && reader.Next(&piece) && piece.size == 0 &&
                              piece.crc == reading.crc;
    }
    return reading;
}

TEST(PieceReader, ReadsToTheEndOnItsOwnThreadAndOnTheCallers) {
    TempDir dir;
    for (size_t size : {size_t{0}, size_t{999}, size_t{1000}, size_t{3001}, size_t{10000}}) {
        std::string content(size, '\0');
        for (size_t i = 0; i < size; ++i) {
            content[i] = static_cast<char>(i * 7 + i / 1000);
        }
        WriteTextFile(dir / L"f.bin", content);
        for (bool ownThread : {true, false}) {
            const Reading reading = ReadAll(dir / L"f.bin", ownThread);
            EXPECT_TRUE(reading.content == content) << size << " " << ownThread;
            EXPECT_EQ(reading.crc, Crc32(0, content.data(), content.size()))
                << size << " " << ownThread;
            EXPECT_TRUE(reading.endsCleanly) << size << " " << ownThread;
        }
    }
}

TEST(PieceReader, AFailedReadIsAnError) {
    TempDir dir;
    WriteTextFile(dir / L"f.bin", "data");
    // Opened for writing only: every read fails with access denied.
    const UniqueFile file(CreateFileW((dir / L"f.bin").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
    for (bool ownThread : {true, false}) {
        PieceReader reader(file.Get(), 1000, 2, ownThread, nullptr);
        PieceReader::Piece piece;
        EXPECT_FALSE(reader.Next(&piece)) << ownThread;
        EXPECT_EQ(reader.Error(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << ownThread;
    }
}

}  // namespace
