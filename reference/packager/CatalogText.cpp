#include "CatalogText.h"

#include <cstdio>
#include <map>
#include <utility>

#include "Text.h"

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

// The value of `digits` in `base`, at most `limit`; false for an empty text, a character
// that is no digit of the base, or a larger value.
bool DigitsValue(std::string_view digits, int base, uint32_t limit, uint32_t* value) {
    if (digits.empty()) {
        return false;
    }
    uint32_t result = 0;
    for (char c : digits) {
        const int digit = HexDigitValue(c);
        if (digit < 0 || digit >= base) {
            return false;
        }
        result = result * static_cast<uint32_t>(base) + static_cast<uint32_t>(digit);
        if (result > limit) {
            return false;
        }
    }
    *value = result;
    return true;
}

char16_t Upper(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

bool IsDosDeviceName(std::u16string_view step) {
    // The name up to its first dot, without trailing blanks: CON.txt and "NUL " are devices.
    std::u16string base(step.substr(0, step.find(u'.')));
    while (!base.empty() && base.back() == u' ') {
        base.pop_back();
    }
    for (char16_t& c : base) {
        c = Upper(c);
    }
    for (std::u16string_view device : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"}) {
        if (base == device) {
            return true;
        }
    }
    if (base.size() != 4 || (base.compare(0, 3, u"COM") != 0 && base.compare(0, 3, u"LPT") != 0)) {
        return false;
    }
    const char16_t n = base[3];
    return (n >= u'1' && n <= u'9') || n == u'\u00B9' || n == u'\u00B2' || n == u'\u00B3';
}

// One line of the catalog after the header: false with the reason in `why`.
bool ParseLine(std::string_view line, CatalogLine* patch, std::string* why) {
    const size_t c1 = line.find(',');
    const size_t c2 = c1 == std::string_view::npos ? c1 : line.find(',', c1 + 1);
    if (c2 == std::string_view::npos || !ParsePatchGuid(line.substr(0, c1), &patch->id) ||
        !ParseLanguage(line.substr(c1 + 1, c2 - c1 - 1), &patch->languageId)) {
        *why = "expected guid,language,vendor_file,title";
        return false;
    }
    const size_t c3 = line.find(',', c2 + 1);
    const std::string_view vendor =
        line.substr(c2 + 1, c3 == std::string_view::npos ? std::string_view::npos : c3 - c2 - 1);
    if (vendor.empty() || !DecodeUtf8(vendor, &patch->vendorFile)) {
        *why = "no vendor file name";
        return false;
    }
    // The library may run under a system account: a catalog must not be able to have it copy
    // any readable file, or read a device, into a package.
    if (!StaysInCurrentFolder(patch->vendorFile)) {
        std::string shown;
        for (char c : vendor) {
            shown += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
        }
        *why = "the vendor file name " + shown + " leaves the current folder";
        return false;
    }
    patch->title = c3 == std::string_view::npos ? "" : std::string(line.substr(c3 + 1));
    return true;
}

bool IsBlank(std::string_view line) {
    return line.find_first_not_of(" \t") == std::string_view::npos;
}

}  // namespace

bool ParseLanguage(std::string_view text, uint16_t* languageId) {
    uint32_t value = 0;
    bool parsed = false;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        parsed = DigitsValue(text.substr(2), 16, 0xFFFF, &value);
    } else if (!text.empty() && text[0] != '0') {
        parsed = DigitsValue(text, 10, 0xFFFF, &value);
    }
    if (!parsed || value == 0) {
        return false;
    }
    *languageId = static_cast<uint16_t>(value);
    return true;
}

bool DecodeUtf8(std::string_view text, std::u16string* out) {
    out->clear();
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        if ((lead >= 0x80 && lead < 0xC2) || lead > 0xF4 || length > text.size() - i) {
            return false;
        }
        uint32_t code = length == 1 ? lead : lead & (0xFF >> (length + 1));
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (next & 0x3F);
        }
        static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
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

bool StaysInCurrentFolder(std::u16string_view name) {
    // Rooted ("\x", "\\server\share", "\\?\..."), drive ("C:x") and stream ("x:s") names all
    // carry a separator first or a colon.
    if (name.empty() || name[0] == u'\\' || name[0] == u'/' ||
        name.find(u':') != std::u16string_view::npos) {
        return false;
    }
    for (char16_t c : name) {
        if (c < 0x20) {
            return false;  // Win32 would end the name at a NUL: "CON\0x" is CON
        }
    }
    int depth = 0;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of(u"\\/", start);
        if (end == std::u16string_view::npos) {
            end = name.size();
        }
        const std::u16string_view step = name.substr(start, end - start);
        start = end + 1;
        if (step.empty() || step == u".") {
            continue;
        }
        if (step == u"..") {
            if (--depth < 0) {
                return false;
            }
            continue;
        }
        // Windows drops trailing dots and blanks from a step, so "... " could climb as well.
        if (step.find_first_not_of(u". ") == std::u16string_view::npos || IsDosDeviceName(step)) {
            return false;
        }
        ++depth;
    }
    return true;
}

bool ParseCatalogText(std::string_view text, std::vector<CatalogLine>* lines, std::string* detail) {
    lines->clear();
    // A patch listed twice would have two vendor files and one place in the package.
    std::map<std::pair<std::string, uint16_t>, int> firstLine;
    const std::vector<std::string_view> all = LineViews(text);
    for (size_t i = 0; i < all.size(); ++i) {
        std::string_view line = all[i];
        const int number = static_cast<int>(i) + 1;
        if (number == 1 && line.substr(0, kBom.size()) == kBom) {
            line.remove_prefix(kBom.size());
        }
        if (IsBlank(line) || (number == 1 && line.substr(0, 5) == "guid,")) {
            continue;
        }
        CatalogLine patch;
        std::string why;
        if (!ParseLine(line, &patch, &why)) {
            *detail = "line " + std::to_string(number) + ": " + why;
            return false;
        }
        patch.line = number;
        const auto [seen, added] =
            firstLine.emplace(std::make_pair(PatchGuidText(patch.id), patch.languageId), number);
        if (!added) {
            char hex[8];
            std::snprintf(hex, sizeof(hex), "0x%04X", patch.languageId);
            *detail = "line " + std::to_string(number) + ": the patch " + PatchGuidText(patch.id) +
                      " " + hex + " is listed again (first on line " +
                      std::to_string(seen->second) + ")";
            return false;
        }
        lines->push_back(std::move(patch));
    }
    return true;
}
