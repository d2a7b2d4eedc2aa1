#pragma once

// SHA-256 digests as the catalog pins them and the manifest shows them: 32 bytes, written as
// 64 hexadecimal digits. Needs no platform header, so that the catalog parser builds natively
// for fuzzing.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "GuidText.h"  // HexDigitValue

using Sha256Digest = std::array<uint8_t, 32>;

// Exactly 64 hexadecimal digits, either case; nothing else (no blanks, no prefix).
inline bool ParseSha256Text(std::string_view text, Sha256Digest* digest) {
    if (text.size() != 64) {
        return false;
    }
    for (size_t i = 0; i < 32; ++i) {
        const int high = HexDigitValue(text[2 * i]);
        const int low = HexDigitValue(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        (*digest)[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return true;
}

// Lower case, as sha256sum and most tools print it.
inline std::string Sha256Text(const Sha256Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(64);
    for (uint8_t byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}
