#include "WideOutput.h"

#include <climits>
#include <cstdio>
#include <cwchar>
#include <iostream>
#include <streambuf>

namespace {

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
        char bytes[1024];
        size_t used = 0;
        std::mbstate_t state{};
        for (std::streamsize i = 0; i < count; ++i) {
            if (used + MB_LEN_MAX > sizeof(bytes)) {
                std::fwrite(bytes, 1, used, stdout);
                used = 0;
            }
            const size_t n = std::wcrtomb(bytes + used, text[i], &state);
            if (n == static_cast<size_t>(-1)) {
                // '?' is what Windows' own conversions put in place of an unmappable
                // character in the ANSI code pages.
                bytes[used++] = '?';
                state = std::mbstate_t{};
            } else {
                used += n;
            }
        }
        if (used > 0) {
            std::fwrite(bytes, 1, used, stdout);
        }
        return count;
    }

    int sync() override { return std::fflush(stdout) == 0 ? 0 : -1; }
};

}  // namespace

void InstallReplacingWideOutput() {
    static std::ios_base::Init streamsReady;
    // Never destroyed: wcout is flushed through it during the runtime's own exit clean-up.
    static ReplacingWideBuffer* buffer = new ReplacingWideBuffer();
    std::wcout.rdbuf(buffer);
}
