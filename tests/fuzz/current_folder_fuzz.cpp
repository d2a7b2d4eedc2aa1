// The current-folder rule for vendor file names against a model written from its documented
// rule (CatalogText.h), by other means: regular expressions over UTF-8 and a stack of steps.
#include <regex>
#include <string>
#include <vector>

#include "CatalogText.h"
#include "Memory.h"

namespace {

// Each input byte picks one UTF-16 unit of a small alphabet rich in what the rule is about.
const char16_t kAlphabet[] = {
    u'\\', u'/',  u'.',    u' ',      u':',      u'C',      u'O',      u'N',      u'c',
    u'o',  u'n',  u'M',    u'm',      u'1',      u'0',      u'3',      u'9',      u'L',
    u'P',  u'T',  u'A',    u'U',      u'X',      u'R',      u'I',      u'$',      u'x',
    u'\0', u'\t', u'\x1F', u'\u00B9', u'\u00B2', u'\u00B3', u'\u00B4', u'\u00E9', u'a'};

std::string Utf8(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool IsDevice(const std::string& step) {
    static const std::regex device(
        "^(CON|PRN|AUX|NUL|CONIN\\$|CONOUT\\$|COM[1-9]|LPT[1-9]|COM(\xC2\xB9|\xC2\xB2|\xC2\xB3)|"
        "LPT(\xC2\xB9|\xC2\xB2|\xC2\xB3)) *(\\..*)?$",
        std::regex::icase);
    return std::regex_match(step, device);
}

bool Model(std::u16string_view name) {
    static const std::regex controlOrColon("[\\x00-\\x1F:]");
    static const std::regex onlyDotsAndBlanks("[. ]+");
    const std::string text = Utf8(name);
    if (text.empty() || std::regex_search(text, controlOrColon) || text[0] == '\\' ||
        text[0] == '/') {
        return false;
    }
    std::vector<std::string> inside;  // the steps below the current folder
    std::string step;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != '\\' && text[i] != '/') {
            step += text[i];
            continue;
        }
        if (step == "..") {
            if (inside.empty()) {
                return false;
            }
            inside.pop_back();
        } else if (!step.empty() && step != ".") {
            if (std::regex_match(step, onlyDotsAndBlanks) || IsDevice(step)) {
                return false;
            }
            inside.push_back(step);
        }
        step.clear();
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string name;
    for (size_t i = 0; i < size && i < 64; ++i) {
        name.push_back(kAlphabet[data[i] % (sizeof(kAlphabet) / sizeof(kAlphabet[0]))]);
    }
    FUZZ_CHECK(StaysInCurrentFolder(name) == Model(name));
    return 0;
}
