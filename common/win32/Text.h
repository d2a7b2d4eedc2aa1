#pragma once

#include <string>
#include <cstdint>
#include <string_view>
#include <vector>

// UTF-16 to UTF-8. Unpaired surrogates become U+FFFD.
std::string ToUtf8(std::wstring_view text);

// UTF-8 to UTF-16 (DecodeUtf8), invalid sequences as U+FFFD.
std::wstring FromUtf8(std::string_view text);

// The lines of a text: split at "\n", each without a "\r" before it; a last line without
// "\n" is kept when it is not empty.
std::vector<std::string> SplitLines(std::string_view text);
std::vector<std::wstring> SplitLines(std::wstring_view text);

// The same lines as views into `text`. Needs no platform header, so that code built without
// one (the catalog parser's fuzz target) splits the same way.
template <typename Char>
std::vector<std::basic_string_view<Char>> LineViews(std::basic_string_view<Char> text) {
    std::vector<std::basic_string_view<Char>> lines;
    while (!text.empty()) {
        const size_t end = text.find(Char('\n'));
        std::basic_string_view<Char> line = text.substr(0, end);
        if (!line.empty() && line.back() == Char('\r')) {
            line.remove_suffix(1);
        }
        lines.push_back(line);
        text = end == text.npos ? std::basic_string_view<Char>() : text.substr(end + 1);
    }
    return lines;
}

// The one UTF-8 decoder. Strict unless `replaceInvalid`: false (with `out` cut at the fault)
// for a malformed or overlong sequence, an encoded surrogate or a code point beyond U+10FFFF;
// with `replaceInvalid`, each byte where such a sequence starts becomes U+FFFD and the decoding
// goes on. Needs no platform header, so that the catalog parser's fuzz target decodes alike.
inline bool DecodeUtf8(std::string_view text, std::u16string* out, bool replaceInvalid = false) {
    out->clear();
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        bool valid = !(lead >= 0x80 && lead < 0xC2) && lead <= 0xF4 && length <= text.size() - i;
        uint32_t code = length == 1 ? lead : lead & (0xFF >> (length + 1));
        for (size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        valid = valid && code >= kSmallest[length] && code <= 0x10FFFF &&
                (code < 0xD800 || code > 0xDFFF);
        if (!valid) {
            if (!replaceInvalid) {
                return false;
            }
            out->push_back(u'\uFFFD');
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            out->push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            out->push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            out->push_back(static_cast<char16_t>(code));
        }
        i += length;
    }
    return true;
}
