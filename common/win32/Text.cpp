#include "Text.h"

#include <windows.h>

std::string ToUtf8(std::wstring_view text) {
    if (text.empty()) {
        return std::string();
    }
    const int size = static_cast<int>(text.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring FromUtf8(std::string_view text, bool strict) {
    if (text.empty()) {
        return std::wstring();
    }
    const DWORD flags = strict ? MB_ERR_INVALID_CHARS : 0;
    const int size = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(CP_UTF8, flags, text.data(), size, nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    MultiByteToWideChar(CP_UTF8, flags, text.data(), size, out.data(), n);
    return out;
}

namespace {

template <typename Char>
std::vector<std::basic_string<Char>> Split(std::basic_string_view<Char> text) {
    std::vector<std::basic_string<Char>> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(Char('\n'), start);
        const size_t next = end == std::basic_string_view<Char>::npos ? text.size() : end + 1;
        if (end == std::basic_string_view<Char>::npos) {
            end = text.size();
        }
        if (end > start && text[end - 1] == Char('\r')) {
            --end;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = next;
    }
    return lines;
}

}  // namespace

std::vector<std::string> SplitLines(std::string_view text) {
    return Split(text);
}

std::vector<std::wstring> SplitLines(std::wstring_view text) {
    return Split(text);
}
