// The catalog parser against its documented format (CatalogText.h), checked line by line by
// a validator written from that text with regular expressions: both accept or refuse the
// same catalogs, refuse at the same line, and agree on every field of what they accept, the
// pinned digests of a header with the digest column included.
#include <clocale>
#include <cwctype>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "CatalogText.h"
#include "Memory.h"

namespace {

struct Expected {
    std::string guid;  // upper case, without braces
    unsigned language;
    std::string vendor;
    std::string sha256;  // lower case; empty when not pinned
    std::string title;
};

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// One step as Windows compares names: without trailing dots and blanks, each UTF-16 unit in
// upper case (the C library's Unicode tables standing in for the platform's).
std::u16string WindowsStep(const std::string& step) {
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    std::u16string wide;
    DecodeUtf8(step, &wide, true);
    while (!wide.empty() && (wide.back() == u'.' || wide.back() == u' ')) {
        wide.pop_back();
    }
    for (char16_t& unit : wide) {
        const wint_t upper = unit >= 0xD800 && unit <= 0xDFFF ? unit : towupper_l(unit, utf8);
        unit = upper <= 0xFFFF ? static_cast<char16_t>(upper) : unit;
    }
    return wide;
}

// The file a vendor name stands for in the package: its steps between slashes of either
// kind, without empty and "." steps, ".." taking the step before, compared as Windows
// compares names (WindowsStep).
std::u16string FileIdentity(const std::string& vendor) {
    static const std::regex separators("[\\\\/]");
    std::vector<std::string> steps;
    for (std::sregex_token_iterator it(vendor.begin(), vendor.end(), separators, -1), end;
         it != end; ++it) {
        const std::string step = *it;
        if (step == "..") {
            if (!steps.empty()) {
                steps.pop_back();
            }
        } else if (!step.empty() && step != ".") {
            steps.push_back(step);
        }
    }
    std::u16string joined;
    for (const std::string& step : steps) {
        joined += (joined.empty() ? u"" : u"/") + WindowsStep(step);
    }
    return joined;
}

// A language that matched the line's form ("0x" and hex digits, or decimal), if it is 1 to
// 0xFFFF.
bool LanguageValue(const std::string& language, unsigned* value) {
    const bool hex = language.size() > 1 && (language[1] == 'x' || language[1] == 'X');
    const std::string digits = hex ? language.substr(2) : language;
    // Beyond five significant digits no language fits; strtoul would also do, but not alone.
    if (digits.find_first_not_of('0') != std::string::npos &&
        digits.size() - digits.find_first_not_of('0') > 5) {
        return false;
    }
    const unsigned long parsed = std::stoul(digits, nullptr, hex ? 16 : 10);
    *value = static_cast<unsigned>(parsed);
    return parsed != 0 && parsed <= 0xFFFF;
}

// The format's verdict on one line after the header: the entry, or false. `pinned`: the
// header names the digest column.
bool ValidateLine(const std::string& line, bool pinned, Expected* out) {
    static const std::regex form(
        "^(\\{([0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12})\\}|"
        "([0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12})),"
        "(0[xX][0-9A-Fa-f]+|[1-9][0-9]*),([^,]+)(,([\\s\\S]*))?$");
    static const std::regex digestForm("([0-9A-Fa-f]{64})?");
    std::smatch m;
    if (!std::regex_match(line, m, form)) {
        return false;
    }
    std::string sha256;
    std::string title = m[7].matched ? m[7].str() : "";
    if (pinned && m[7].matched) {
        const size_t comma = title.find(',');
        sha256 = title.substr(0, comma);
        title = comma == std::string::npos ? "" : title.substr(comma + 1);
        if (!std::regex_match(sha256, digestForm)) {
            return false;
        }
    }
    std::string guid = m[2].matched ? m[2].str() : m[3].str();
    for (char& c : guid) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    unsigned language = 0;
    std::u16string vendor;
    if (!LanguageValue(m[4].str(), &language) || !DecodeUtf8(m[5].str(), &vendor) ||
        !StaysInCurrentFolder(vendor)) {
        return false;
    }
    *out = {guid, language, m[5].str(), Lower(sha256), title};
    return true;
}

// A first line "guid,..." whose fourth comma-separated field, blanks and tabs trimmed, is
// "sha256" in any case.
bool PinsDigests(const std::string& header) {
    static const std::regex form("guid,[^,]*,[^,]*,[ \t]*[sS][hH][aA]256[ \t]*(,[\\s\\S]*)?");
    return std::regex_match(header, form);
}

// The text's lines, split at LF, each without a CR before it.
std::vector<std::string> ModelLines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

// The whole text: the entries, or the number of the first line that makes it corrupt.
int Validate(const std::string& text, std::vector<Expected>* entries) {
    const std::vector<std::string> lines = ModelLines(text);
    static const std::regex blank("[ \t]*");
    std::set<std::pair<std::string, unsigned>> seen;
    std::map<std::u16string, std::string> pins;  // file identity -> digest
    bool pinned = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string line = lines[i];
        if (i == 0 && line.rfind("\xEF\xBB\xBF", 0) == 0) {
            line.erase(0, 3);
        }
        if (i == 0 && line.rfind("guid,", 0) == 0) {
            pinned = PinsDigests(line);
            continue;
        }
        if (std::regex_match(line, blank)) {
            continue;
        }
        Expected entry;
        // No vendor file may take the manifest's entry, in any spelling.
        if (!ValidateLine(line, pinned, &entry) || FileIdentity(entry.vendor) == u"MANIFEST.TXT" ||
            !seen.insert({entry.guid, entry.language}).second) {
            return static_cast<int>(i) + 1;
        }
        if (!entry.sha256.empty()) {
            const auto [pin, first] = pins.emplace(FileIdentity(entry.vendor), entry.sha256);
            if (!first && pin->second != entry.sha256) {
                return static_cast<int>(i) + 1;
            }
        }
        entries->push_back(entry);
    }
    return 0;
}

std::string Utf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
        } else if (c < 0x10000) {
            out +=
                {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                 static_cast<char>(0x80 | (c & 0x3F))};
        } else {
            out +=
                {static_cast<char>(0xF0 | (c >> 18)), static_cast<char>(0x80 | ((c >> 12) & 0x3F)),
                 static_cast<char>(0x80 | ((c >> 6) & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    CatalogTable table;
    std::string detail;
    const bool accepted = ParseCatalogText(text, &table, &detail);
    const std::vector<CatalogPatch>& parsed = table.Patches();
    std::vector<Expected> expected;
    const int badLine = Validate(text, &expected);
    FUZZ_CHECK(accepted == (badLine == 0));
    if (!accepted) {
        FUZZ_CHECK(detail.rfind("line " + std::to_string(badLine) + ": ", 0) == 0);
        return 0;
    }
    FUZZ_CHECK(parsed.size() == expected.size());
    for (size_t i = 0; i < parsed.size(); ++i) {
        FUZZ_CHECK(PatchGuidText(parsed[i].key.id) == expected[i].guid);
        FUZZ_CHECK(parsed[i].key.languageId == expected[i].language);
        FUZZ_CHECK(Utf8(parsed[i].vendorFile) == expected[i].vendor);
        FUZZ_CHECK((parsed[i].sha256 ? Sha256Text(*parsed[i].sha256) : "") == expected[i].sha256);
        FUZZ_CHECK(parsed[i].title == expected[i].title);
        // The indexes parsing built find every line, and a pin wherever its file is listed.
        FUZZ_CHECK(table.Find(parsed[i].key) == &parsed[i]);
        FUZZ_CHECK(!parsed[i].sha256 || table.PinOf(parsed[i].entryName) == parsed[i].sha256);
    }
    return 0;
}
