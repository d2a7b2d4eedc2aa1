#pragma once

#include <string>
#include <string_view>
#include <vector>

// UTF-16 to UTF-8. Unpaired surrogates become U+FFFD.
std::string ToUtf8(std::wstring_view text);

// UTF-8 to UTF-16. Invalid sequences become U+FFFD.
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
