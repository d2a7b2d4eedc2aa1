#include "PieceReader.h"

#include <system_error>

#include "Crc32.h"
#include "Sha256.h"

PieceReader::PieceReader(HANDLE given, size_t size, size_t depth, bool ownThread,
                         Sha256* digestGiven)
    : file(given), digest(digestGiven), pieceSize(size), slots(depth < 2 ? 2 : depth) {
    for (Slot& slot : slots) {
        slot.buffer.reset(new char[pieceSize]);
    }
    try {
        if (ownThread) {
            reader = std::thread(&PieceReader::Run, this);
            threaded = true;
        }
    } catch (const std::system_error&) {
        threaded = false;
    }
}

PieceReader::~PieceReader() {
    if (threaded) {
        {
            std::lock_guard<std::mutex> guard(lock);
            stopping = true;
        }
        changed.notify_all();
        reader.join();
    }
}

void PieceReader::ReadInto(Slot& slot) {
    DWORD got = 0;
    slot.size = 0;
    if (!ReadFile(file, slot.buffer.get(), static_cast<DWORD>(pieceSize), &got, nullptr)) {
        slot.error = GetLastError();
        slot.last = true;
        return;
    }
    if (digest != nullptr && !digest->Update(slot.buffer.get(), got)) {
        slot.error = static_cast<DWORD>(digest->Status());
        slot.last = true;
        return;
    }
    slot.size = got;
    slot.last = got == 0;
    crc = Crc32(crc, slot.buffer.get(), got);
    slot.crc = crc;
}

void PieceReader::Run() {
    for (;;) {
        {
            std::unique_lock<std::mutex> guard(lock);
            // A slot is free once the caller has given it back: at most `depth` ahead.
            changed.wait(guard, [this] {
                return stopping || produced - (consumed - (holding ? 1 : 0)) < slots.size();
            });
            if (stopping) {
                return;
            }
        }
        Slot& slot = slots[produced % slots.size()];
        ReadInto(slot);
        {
            std::lock_guard<std::mutex> guard(lock);
            ++produced;
            finished = slot.last;
        }
        changed.notify_all();
        if (slot.last) {
            return;
        }
    }
}

bool PieceReader::Next(Piece* piece) {
    *piece = Piece{};
    Slot* slot = nullptr;
    if (threaded) {
        std::unique_lock<std::mutex> guard(lock);
        holding = false;
        changed.notify_all();
        changed.wait(guard,
                     [this] { return consumed < produced || (finished && consumed == produced); });
        if (consumed == produced) {
            piece->crc = crc;  // past the end: the reading side has stopped
            return error == 0;
        }
        slot = &slots[consumed % slots.size()];
        ++consumed;
        holding = true;
    } else {
        if (finished) {
            piece->crc = crc;
            return error == 0;
        }
        slot = &slots[0];
        ReadInto(*slot);
        finished = slot->last;
    }
    if (slot->error != 0) {
        error = slot->error;
        return false;
    }
    piece->data = slot->buffer.get();
    piece->size = slot->size;
    piece->crc = slot->crc;
    return true;
}
