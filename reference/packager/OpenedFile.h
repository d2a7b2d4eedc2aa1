#pragma once

// What an open handle's file is, as the platform says, not as the name that led to it: where
// it really lies (its final path, links followed) and which file it is (its identity, the
// same for every name of one file). Whoever can write a folder can make a name in it lead
// anywhere; a check of the name alone is a check of nothing.

#include <windows.h>

#include <cstdint>
#include <string>

#include "Fill.h"
#include "Queries.h"

// A file's identity: its volume's serial number and its index on that volume.
struct FileIdentity {
    DWORD volume = 0;
    uint64_t index = 0;
    bool operator==(const FileIdentity& other) const {
        return volume == other.volume && index == other.index;
    }
    bool operator<(const FileIdentity& other) const {
        return volume != other.volume ? volume < other.volume : index < other.index;
    }
};

// The facts of an open file; false with the platform's error code in `*error`.
struct HandleFacts {
    FileIdentity identity;
    DWORD attributes = 0;
    DWORD links = 0;  // names the file has (hard links)
};
bool FactsOf(HANDLE file, HandleFacts* facts, DWORD* error);

// The final path of an open file or folder (GetFinalPathNameByHandleW, normalised, with its
// drive letter where it has one).
QueryAnswer FinalPathOf(HANDLE file);

// The final path of the folder `path` (the current folder for "."), links followed.
QueryAnswer FinalFolderPath(const std::wstring& path);

// True when `a` and `b` are one path text as Windows compares names: ordinal, letter case
// ignored.
bool SamePathText(std::wstring_view a, std::wstring_view b);

// True when `path` lies below `folder` (both final paths): `folder`, a separator, more.
bool LiesUnder(const std::wstring& path, const std::wstring& folder);
