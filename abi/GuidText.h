#pragma once

// GUID text in the 8-4-4-4-12 form, for the libraries behind the packager interface (the
// reference library's catalog and manifest, the test doubles' scripts and records). The tool
// itself converts with the platform's functions. The parsing needs no platform header, so
// that the catalog parser builds natively for fuzzing; the GUID forms follow at the end.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

// A GUID in the platform's layout (a 32-bit, two 16-bit and eight 8-bit fields).
struct PatchGuid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    uint8_t data4[8] = {};
};

// The value of one hex digit, any case; -1 for any other character.
inline int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Reads "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX", optionally between braces, any letter case.
inline bool ParsePatchGuid(std::string_view text, PatchGuid* id) {
    if (text.size() == 38 && text.front() == '{' && text.back() == '}') {
        text = text.substr(1, 36);
    }
    if (text.size() != 36) {
        return false;
    }
    // Every group has an even number of digits, so the bytes never straddle a dash.
    uint8_t bytes[16];
    size_t count = 0;
    for (size_t i = 0; i < text.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i++] != '-') {
                return false;
            }
            continue;
        }
        const int high = HexDigitValue(text[i]);
        const int low = HexDigitValue(text[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        bytes[count++] = static_cast<uint8_t>(high << 4 | low);
        i += 2;
    }
    id->data1 = static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
                static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
    id->data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
    id->data3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
    std::memcpy(id->data4, bytes + 8, 8);
    return true;
}

// Upper case, without braces.
inline std::string PatchGuidText(const PatchGuid& g) {
    char text[40];
    std::snprintf(text, sizeof(text), "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  static_cast<unsigned>(g.data1), g.data2, g.data3, g.data4[0], g.data4[1],
                  g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    return text;
}

#ifdef _WIN32
#include <windows.h>

static_assert(sizeof(PatchGuid) == sizeof(GUID) && std::is_trivially_copyable_v<PatchGuid>,
              "PatchGuid has GUID's layout");

// The one GUID value of the portable code, and the platform's, at the interface's edge.
inline PatchGuid ToPatchGuid(const GUID& guid) {
    PatchGuid id;
    std::memcpy(static_cast<void*>(&id), &guid, sizeof(GUID));
    return id;
}

inline GUID ToGuid(const PatchGuid& id) {
    GUID guid;
    std::memcpy(&guid, &id, sizeof(GUID));
    return guid;
}
#endif
