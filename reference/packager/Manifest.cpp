#include "Manifest.h"

#include <cstdio>

namespace {

// Whether a UTF-8 sequence that some readers take as a line end starts at `at`, and its length.
bool EndsLineToSome(std::string_view text, size_t at, size_t* length) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[at + k]); };
    if (byte(0) == 0xC2 && at + 1 < text.size() && byte(1) >= 0x80 && byte(1) <= 0x9F) {
        *length = 2;  // U+0080 to U+009F, NEL among them
        return true;
    }
    if (byte(0) == 0xE2 && at + 2 < text.size() && byte(1) == 0x80 &&
        (byte(2) == 0xA8 || byte(2) == 0xA9)) {
        *length = 3;  // U+2028, U+2029
        return true;
    }
    return false;
}

void AppendEscaped(unsigned char byte, std::string* out) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    *out += '%';
    *out += kDigits[byte >> 4];
    *out += kDigits[byte & 15];
}

std::string Hex4(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%04X", value);
    return text;
}

// A packager log that could not be written (up to the manifest, which is written last) is
// named here, so that its loss is on record with the package.
std::string Head(const ManifestFacts& facts) {
    std::string head = "package-format: 2\r\nsource: " + OneLineText(facts.source) + "\r\n";
    head += "deployment-log: " + OneLineText(facts.deploymentLog) + "\r\n";
    head += "deployment-log-level: " + std::to_string(facts.deploymentLogLevel) + "\r\n";
    head += "events-handler: " + OneLineText(facts.eventsHandler) + "\r\n";
    head += "flags: " + Hex4(facts.flags) + "\r\n";
    if (facts.unwrittenLogError != 0) {
        head += "packager-log: " + OneLineText(facts.unwrittenLog) + " not written, error " +
                std::to_string(facts.unwrittenLogError) + "\r\n";
    }
    return head + "items: " + std::to_string(facts.items.size()) + "\r\n";
}

std::string ItemLine(size_t i, const ManifestItem& item) {
    std::string line = "item " + std::to_string(i) + ": " + item.key.Text() + " index " +
                       std::to_string(item.index);
    if (!item.inCatalog) {
        return line + " (not in the catalog)\r\n";
    }
    line += " vendor-file " + OneLineText(item.vendorFile);
    const PackOutcome& outcome = item.outcome;
    if (outcome.kind == PackOutcome::Kind::Included) {
        line += " included";
        if (!item.entry.empty()) {
            line += " entry " + OneLineText(item.entry);
        }
        line += " size " + std::to_string(outcome.size);
        if (outcome.sha256) {
            line += " sha256 " + Sha256Text(*outcome.sha256) + " verified";
        }
    } else {
        line += outcome.kind == PackOutcome::Kind::Mismatch  ? " mismatch"
                : outcome.kind == PackOutcome::Kind::Outside ? " outside"
                                                             : " missing";
    }
    if (!item.title.empty()) {
        line += " title " + OneLineText(item.title);
    }
    return line + "\r\n";
}

}  // namespace

std::string OneLineText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const auto byte = static_cast<unsigned char>(text[at]);
        size_t length = 1;
        if (byte < 0x20 || byte == 0x7F || byte == '%' || EndsLineToSome(text, at, &length)) {
            for (size_t k = 0; k < length; ++k) {
                AppendEscaped(static_cast<unsigned char>(text[at + k]), &out);
            }
        } else {
            out += text[at];
        }
        at += length;
    }
    return out;
}

std::string ManifestText(const ManifestFacts& facts) {
    std::string text = Head(facts);
    for (size_t i = 0; i < facts.items.size(); ++i) {
        text += ItemLine(i, facts.items[i]);
    }
    return text;
}
