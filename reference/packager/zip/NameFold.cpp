#include "NameFold.h"

#include "Text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <clocale>
#include <cwctype>
#endif

namespace {

#ifdef _WIN32
// The invariant locale's upper case is ordinal: no language's rules, as a file system has.
std::u16string Upper(std::u16string step) {
    if (step.empty()) {
        return step;
    }
    std::u16string out(step.size(), u'\0');
    const int size = static_cast<int>(step.size());
    const int mapped = LCMapStringEx(
        LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, reinterpret_cast<LPCWSTR>(step.data()), size,
        reinterpret_cast<LPWSTR>(out.data()), size, nullptr, nullptr, 0);
    return mapped == size ? out : step;
}
#else
// Natively (the fuzz targets) the C library's Unicode tables stand in for the platform's.
std::u16string Upper(std::u16string step) {
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    for (char16_t& unit : step) {
        if (utf8 != nullptr && (unit < 0xD800 || unit > 0xDFFF)) {
            const wint_t upper = towupper_l(unit, utf8);
            unit = upper <= 0xFFFF ? static_cast<char16_t>(upper) : unit;
        }
    }
    return step;
}
#endif

}  // namespace

std::u16string FileNameKey(std::string_view name) {
    std::u16string wide;
    DecodeUtf8(name, &wide, true);
    std::u16string key;
    size_t start = 0;
    while (start <= wide.size()) {
        size_t end = wide.find_first_of(u"\\/", start);
        if (end == std::u16string::npos) {
            end = wide.size();
        }
        std::u16string step = wide.substr(start, end - start);
        while (!step.empty() && (step.back() == u'.' || step.back() == u' ')) {
            step.pop_back();
        }
        key += (start == 0 ? u"" : u"/") + Upper(std::move(step));
        start = end + 1;
    }
    return key;
}
