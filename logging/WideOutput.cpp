#include "WideOutput.h"

#include <climits>
#include <cstdio>
#include <cwchar>
#include <iostream>
#include <streambuf>

namespace {

bool IsHighSurrogate(wchar_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(wchar_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

class ReplacingWideBuffer : public std::wstreambuf {
  protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) {
            return traits_type::not_eof(c);
        }
        const wchar_t ch = traits_type::to_char_type(c);
        return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
    }

    std::streamsize xsputn(const wchar_t* text, std::streamsize count) override {
        for (std::streamsize i = 0; i < count; ++i) {
            Put(text[i]);
        }
        Drain();
        return count;
    }

    int sync() override {
        if (pendingHigh != 0) {
            const wchar_t high = pendingHigh;
            pendingHigh = 0;
            Convert(&high, 1);
        }
        Drain();
        return std::fflush(stdout) == 0 ? 0 : -1;
    }

  private:
    // A character outside the Basic Multilingual Plane arrives as two UTF-16 units, possibly
    // in two calls; the code page sees it whole, and what it cannot show is one '?'.
    void Put(wchar_t unit) {
        if (pendingHigh != 0) {
            const wchar_t high = pendingHigh;
            pendingHigh = 0;
            if (IsLowSurrogate(unit)) {
                const wchar_t pair[2] = {high, unit};
                Convert(pair, 2);
                return;
            }
            Convert(&high, 1);
        }
        if (IsHighSurrogate(unit)) {
            pendingHigh = unit;
            return;
        }
        Convert(&unit, 1);
    }

    // Converts one character (one unit, or a surrogate pair) through the C locale, or writes
    // '?' in its place: what Windows' own conversions put for an unmappable character in the
    // ANSI code pages. Either all of the character's bytes are written or none.
    void Convert(const wchar_t* units, size_t count) {
        if (used + count * MB_LEN_MAX > sizeof(bytes)) {
            Drain();
        }
        std::mbstate_t state{};
        size_t length = 0;
        for (size_t i = 0; i < count; ++i) {
            const size_t n = std::wcrtomb(bytes + used + length, units[i], &state);
            if (n == static_cast<size_t>(-1)) {
                bytes[used++] = '?';
                return;
            }
            length += n;
        }
        used += length;
    }

    void Drain() {
        if (used > 0) {
            std::fwrite(bytes, 1, used, stdout);
            used = 0;
        }
    }

    char bytes[1024];
    size_t used = 0;
    wchar_t pendingHigh = 0;
};

}  // namespace

void InstallReplacingWideOutput() {
    static std::ios_base::Init streamsReady;
    // Never destroyed: wcout is flushed through it during the runtime's own exit clean-up.
    static ReplacingWideBuffer* buffer = new ReplacingWideBuffer();
    std::wcout.rdbuf(buffer);
}
