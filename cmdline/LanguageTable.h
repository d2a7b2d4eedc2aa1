#pragma once

#include <array>
#include <cstdint>

// Windows language identifiers indexed by the region number of option "r". An entry of 0
// marks a region number that is not supported.
inline constexpr std::array<uint16_t, 39> kLanguageTable = {
    0x0409, 0x0409, 0x040C, 0x0407, 0x0411, 0x0410, 0x0C0A, 0x0416, 0x0816, 0x0414,
    0x041D, 0x0413, 0x040B, 0x0406, 0x0405, 0x040E, 0x0415, 0x0419, 0x1004, 0x0412,
    0x0404, 0x041F, 0x041E, 0x0408, 0x040D, 0x1401, 0x0000, 0x0C04, 0x0425, 0x0402,
    0x041A, 0x0426, 0x0427, 0x0418, 0x0000, 0x041B, 0x0424, 0x0422, 0x0809,
};

// True when `region` indexes a non-zero entry of the table.
constexpr bool IsSupportedRegion(int64_t region) {
    return region >= 0 && region < static_cast<int64_t>(kLanguageTable.size()) &&
           kLanguageTable[static_cast<size_t>(region)] != 0;
}

// The language of a supported region; 0 for any other number.
constexpr uint16_t LanguageOfRegion(int64_t region) {
    return IsSupportedRegion(region) ? kLanguageTable[static_cast<size_t>(region)] : 0;
}
