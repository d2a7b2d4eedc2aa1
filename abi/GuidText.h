#pragma once

// GUID text in the 8-4-4-4-12 form, for the libraries behind the packager interface (the
// reference library's catalog and manifest, the test doubles' scripts and records). The tool
// itself converts with the platform's functions.

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

// Reads "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX", optionally between braces, any letter case.
inline bool ParseGuidText(const std::string& given, GUID* guid) {
    std::string text = given;
    if (text.size() == 38 && text.front() == '{' && text.back() == '}') {
        text = text.substr(1, 36);
    }
    if (text.size() != 36) {
        return false;
    }
    for (size_t i = 0; i < 36; ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != '-' : std::isxdigit(static_cast<unsigned char>(text[i])) == 0) {
            return false;
        }
    }
    auto hex = [&](size_t at, size_t n) {
        return std::strtoull(text.substr(at, n).c_str(), nullptr, 16);
    };
    guid->Data1 = static_cast<unsigned long>(hex(0, 8));
    guid->Data2 = static_cast<unsigned short>(hex(9, 4));
    guid->Data3 = static_cast<unsigned short>(hex(14, 4));
    guid->Data4[0] = static_cast<unsigned char>(hex(19, 2));
    guid->Data4[1] = static_cast<unsigned char>(hex(21, 2));
    for (int i = 0; i < 6; ++i) {
        guid->Data4[2 + i] = static_cast<unsigned char>(hex(24 + 2 * i, 2));
    }
    return true;
}

// Upper case, without braces.
inline std::string GuidToText(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof(text), "%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}
