#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class Sha256;

// Reads an open file front to back in pieces, on a thread of its own a few pieces ahead of
// its caller, and keeps the CRC-32 of what it has read: reading and checksumming one piece
// overlap with what the caller does with the one before (compressing, writing). Each byte is
// read once; a digest, when given, is kept of it on the reading side too. Where no thread can
// be started it reads in the caller's thread instead.
class PieceReader {
  public:
    struct Piece {
        const char* data = nullptr;
        size_t size = 0;   // 0 at the end of the file
        uint32_t crc = 0;  // CRC-32 of the file up to and including this piece
    };

    // Reads `depth` pieces of `pieceSize` ahead on a thread of its own when `ownThread` (and
    // the thread starts); otherwise each piece is read when it is asked for. `digest` (may be
    // null) is given every byte read, in order; a digest that fails fails the read.
    PieceReader(HANDLE file, size_t pieceSize, size_t depth, bool ownThread, Sha256* digest);
    ~PieceReader();
    PieceReader(const PieceReader&) = delete;
    PieceReader& operator=(const PieceReader&) = delete;

    // The next piece, valid until the next call; false when the read failed (Error() has the
    // platform's code). After the end, every call answers an empty piece.
    bool Next(Piece* piece);
    DWORD Error() const { return error; }

  private:
    struct Slot {
        std::unique_ptr<char[]> buffer;
        size_t size = 0;
        uint32_t crc = 0;
        bool last = false;
        DWORD error = 0;
    };
    void ReadInto(Slot& slot);
    void Run();

    HANDLE file;
    Sha256* digest;
    size_t pieceSize;
    std::vector<Slot> slots;
    uint32_t crc = 0;  // the reading side's running value

    std::mutex lock;
    std::condition_variable changed;
    uint64_t produced = 0;  // slots filled by the reading side
    uint64_t consumed = 0;  // slots handed to the caller
    bool holding = false;   // the caller still uses the last slot handed out
    bool stopping = false;
    bool finished = false;  // the last slot is filled
    std::thread reader;
    bool threaded = false;
    DWORD error = 0;
};
