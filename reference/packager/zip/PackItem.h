#pragma once

// A file to pack, and what became of it: one record each, from the caller that opens the
// files, through the pipeline that reads them, to the manifest that tells of them. Needs no
// platform header.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "DigestText.h"

// A file to pack: its entry name, the file, and the SHA-256 its bytes must have, when pinned.
struct PackItem {
    std::string name;
    // The caller's open file, at its start, for a platform that reads what its caller opened
    // (a HANDLE on Windows); null for one that opens files by their index.
    void* file = nullptr;
    std::optional<Sha256Digest> pinned;
};

// What became of a file.
struct PackOutcome {
    enum class Kind {
        Included,    // in the archive
        OpenFailed,  // not opened (`error`); nothing written
        Mismatch,    // read, but not what was pinned: taken out again, no byte of it stays
        Outside,     // never read: it lies outside the folder it must be in (`where`)
    };
    Kind kind = Kind::Included;
    uint32_t error = 0;
    uint64_t size = 0;                   // bytes read
    std::optional<Sha256Digest> sha256;  // of the bytes read, when pinned
    std::string where;                   // where an Outside file really is (UTF-8)

    static PackOutcome NotOpened(uint32_t error) {
        PackOutcome outcome;
        outcome.kind = Kind::OpenFailed;
        outcome.error = error;
        return outcome;
    }
    static PackOutcome OutsideAt(std::string where) {
        PackOutcome outcome;
        outcome.kind = Kind::Outside;
        outcome.where = std::move(where);
        return outcome;
    }
};
