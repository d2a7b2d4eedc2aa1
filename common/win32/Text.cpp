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

std::wstring FromUtf8(std::string_view text) {
    std::u16string decoded;
    DecodeUtf8(text, &decoded, true);
    return std::wstring(decoded.begin(), decoded.end());
}

std::vector<std::string> SplitLines(std::string_view text) {
    const std::vector<std::string_view> lines = LineViews(text);
    return {lines.begin(), lines.end()};
}

std::vector<std::wstring> SplitLines(std::wstring_view text) {
    const std::vector<std::wstring_view> lines = LineViews(text);
    return {lines.begin(), lines.end()};
}
