#include "CatalogText.h"

#include <cstdio>
#include <map>
#include <utility>

#include "NameFold.h"
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

// The field that starts at `from` and ends before the next comma (or the line's end), and
// where the next field starts (npos when there is none).
std::string_view Field(std::string_view line, size_t from, size_t* next) {
    const size_t comma = line.find(',', from);
    *next = comma == std::string_view::npos ? comma : comma + 1;
    return line.substr(from, comma == std::string_view::npos ? comma : comma - from);
}

// The vendor file field: valid UTF-8 and a name that stays in the current folder.
bool ParseVendorFile(std::string_view vendor, CatalogPatch* patch, std::string* why) {
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
    return true;
}

// One line of the catalog after the header, with a digest field when `pinned`: false with the
// reason in `why`.
bool ParseLine(std::string_view line, bool pinned, CatalogPatch* patch, std::string* why) {
    size_t next = 0;
    const std::string_view guid = Field(line, 0, &next);
    const std::string_view language =
        next == std::string_view::npos ? std::string_view() : Field(line, next, &next);
    if (next == std::string_view::npos || !ParsePatchGuid(guid, &patch->key.id) ||
        !ParseLanguage(language, &patch->key.languageId)) {
        *why = pinned ? "expected guid,language,vendor_file,sha256,title"
                      : "expected guid,language,vendor_file,title";
        return false;
    }
    const std::string_view vendor = Field(line, next, &next);
    if (!ParseVendorFile(vendor, patch, why)) {
        return false;
    }
    patch->entryName = PackageEntryName(vendor);
    if (pinned && next != std::string_view::npos) {
        const std::string_view digest = Field(line, next, &next);
        Sha256Digest value;
        if (!digest.empty() && !ParseSha256Text(digest, &value)) {
            *why = "the sha256 field is neither empty nor 64 hexadecimal digits";
            return false;
        }
        if (!digest.empty()) {
            patch->sha256 = value;
        }
    }
    patch->title = next == std::string_view::npos ? "" : std::string(line.substr(next));
    return true;
}

// A header names the digest column when its fourth field, without surrounding blanks, is
// "sha256" in any letter case.
bool HeaderPinsDigests(std::string_view header) {
    size_t next = 0;
    for (int field = 0; field < 3 && next != std::string_view::npos; ++field) {
        Field(header, next, &next);
    }
    if (next == std::string_view::npos) {
        return false;
    }
    std::string_view fourth = Field(header, next, &next);
    const size_t first = fourth.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return false;
    }
    fourth = fourth.substr(first, fourth.find_last_not_of(" \t") - first + 1);
    return FoldAsciiCase(std::string(fourth)) == "sha256";
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

std::string PackageEntryName(std::string_view path) {
    std::vector<std::string_view> steps;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find_first_of("\\/", start);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        const std::string_view step = path.substr(start, end - start);
        if (step == ".." && !steps.empty()) {
            steps.pop_back();
        } else if (!step.empty() && step != "." && step != "..") {
            steps.push_back(step);
        }
        start = end + 1;
    }
    std::string name;
    for (const std::string_view step : steps) {
        name += (name.empty() ? "" : "/") + std::string(step);
    }
    return name.empty() ? "unnamed" : name;
}

std::string FoldAsciiCase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

std::string PatchKey::Text() const {
    char hex[8];
    std::snprintf(hex, sizeof(hex), "0x%04X", languageId);
    return PatchGuidText(id) + " " + hex;
}

// What the whole text may not hold twice: a patch (GUID and language), and two digests for
// one vendor file. A patch listed twice would have two vendor files and one place in the
// package; a file pinned twice, two truths about one set of bytes. Nor may a vendor file take
// the manifest's entry, in any spelling that extracts to it.
bool CatalogTable::Admit(CatalogPatch patch, std::string* detail) {
    const std::u16string file = FileNameKey(patch.entryName);
    const std::string at = "line " + std::to_string(patch.line) + ": ";
    if (file == FileNameKey(kManifestEntryName)) {
        *detail = at + "the vendor file " + patch.entryName + " would take the name of the " +
                  "package's " + std::string(kManifestEntryName);
        return false;
    }
    // Judged before anything is added, so that a refused line leaves the table as it was.
    if (const auto seen = byKey.find(patch.key); seen != byKey.end()) {
        *detail = at + "the patch " + patch.key.Text() + " is listed again (first on line " +
                  std::to_string(patches[seen->second].line) + ")";
        return false;
    }
    const auto pin = pins.find(file);
    if (patch.sha256 && pin != pins.end() && patches[pin->second].sha256 != patch.sha256) {
        *detail = at + "the vendor file " + patch.entryName +
                  " is pinned to another sha256 digest on line " +
                  std::to_string(patches[pin->second].line);
        return false;
    }
    byKey.emplace(patch.key, patches.size());
    if (patch.sha256 && pin == pins.end()) {
        pins.emplace(file, patches.size());
    }
    patches.push_back(std::move(patch));
    return true;
}

const CatalogPatch* CatalogTable::Find(const PatchKey& key) const {
    const auto found = byKey.find(key);
    return found == byKey.end() ? nullptr : &patches[found->second];
}

std::optional<Sha256Digest> CatalogTable::PinOf(const std::string& entryName) const {
    const auto found = pins.find(FileNameKey(entryName));
    return found == pins.end() ? std::nullopt : patches[found->second].sha256;
}

bool ParseCatalogText(std::string_view text, CatalogTable* table, std::string* detail) {
    *table = CatalogTable();
    bool pinned = false;
    const std::vector<std::string_view> all = LineViews(text);
    for (size_t i = 0; i < all.size(); ++i) {
        std::string_view line = all[i];
        const int number = static_cast<int>(i) + 1;
        if (number == 1 && line.substr(0, kBom.size()) == kBom) {
            line.remove_prefix(kBom.size());
        }
        if (number == 1 && line.substr(0, 5) == "guid,") {
            pinned = HeaderPinsDigests(line);
            continue;
        }
        if (IsBlank(line)) {
            continue;
        }
        CatalogPatch patch;
        std::string why;
        if (!ParseLine(line, pinned, &patch, &why)) {
            *detail = "line " + std::to_string(number) + ": " + why;
            return false;
        }
        patch.line = number;
        if (!table->Admit(std::move(patch), detail)) {
            *table = CatalogTable();
            return false;
        }
    }
    return true;
}
