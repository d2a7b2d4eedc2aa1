// The manifest against its documented form (Manifest.h), read back by a reader written from
// that text: the head's fields and every item's fields come back as they went in, one line
// each, in order, whatever the texts hold: CR, LF, every other control character and the
// line ends of Unicode stay in every field, and a reader that splits at any of them still
// finds one line per record.
#include <sstream>

#include "Manifest.h"
#include "Memory.h"

namespace {

// A text of up to 31 bytes, any bytes at all.
std::string Text(Input& in) {
    std::string out;
    for (int n = in.Byte() % 32; n > 0 && in.size > 0; --n) {
        out += static_cast<char>(in.Byte());
    }
    return out;
}

// OneLineText undone: every "%XX" back to its byte.
std::string Unescaped(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '%') {
            FUZZ_CHECK(i + 2 < field.size() && HexDigitValue(field[i + 1]) >= 0 &&
                       HexDigitValue(field[i + 2]) >= 0);
            out +=
                static_cast<char>(HexDigitValue(field[i + 1]) * 16 + HexDigitValue(field[i + 2]));
            i += 2;
        } else {
            out += field[i];
        }
    }
    return out;
}

// The field as written, checked to read back as the text that went in.
std::string Field(const std::string& text) {
    const std::string field = OneLineText(text);
    FUZZ_CHECK(Unescaped(field) == text);
    return field;
}

// How many lines a reader finds that ends a line at CR LF, CR, LF, NEL, U+2028 or U+2029.
size_t LinesToAnyReader(const std::string& text) {
    size_t lines = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool nel = c == 0xC2 && i + 1 < text.size() && text[i + 1] == '\x85';
        const bool separator = c == 0xE2 && i + 2 < text.size() && text[i + 1] == '\x80' &&
                               (text[i + 2] == '\xA8' || text[i + 2] == '\xA9');
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
        }
        lines += c == '\r' || c == '\n' || nel || separator ? 1 : 0;
    }
    return lines;
}

ManifestFacts Facts(Input& in) {
    ManifestFacts facts;
    facts.source = Text(in);
    facts.deploymentLog = Text(in);
    facts.deploymentLogLevel = static_cast<int32_t>(in.Word());
    facts.eventsHandler = Text(in);
    facts.flags = in.Word();
    facts.unwrittenLogError = in.Byte() % 2 == 0 ? 0 : in.Word() | 1;
    facts.unwrittenLog = facts.unwrittenLogError != 0 ? Text(in) : "";
    for (int n = in.Byte() % 8; n > 0; --n) {
        ManifestItem item;
        item.key.id.data1 = in.Word();
        item.key.id.data4[7] = in.Byte();
        item.key.languageId = static_cast<uint16_t>(in.Word());
        item.index = in.Word();
        const uint8_t kind = in.Byte();
        item.inCatalog = kind % 4 != 0;
        item.vendorFile = item.inCatalog ? Text(in) : "";
        item.title = item.inCatalog ? Text(in) : "";
        // Every outcome carries a size and, now and then, a digest, whatever its kind: the
        // manifest must tell them of an included file only.
        PackOutcome& outcome = item.outcome;
        outcome.kind = static_cast<PackOutcome::Kind>(kind / 4 % 4);
        item.entry = outcome.kind == PackOutcome::Kind::Included && kind & 0x40 ? Text(in) : "";
        outcome.size = uint64_t{in.Word()} << 8;
        outcome.where = kind & 0x40 ? Text(in) : "";
        if (kind & 0x80) {
            Sha256Digest digest{};
            digest[0] = in.Byte();
            digest[31] = in.Byte();
            outcome.sha256 = digest;
        }
        facts.items.push_back(item);
    }
    return facts;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2) {
        lines.push_back(text.substr(start, at - start));
    }
    FUZZ_CHECK(start == text.size());  // every line ends in CR LF
    return lines;
}

void CheckItem(const std::string& line, size_t i, const ManifestItem& item) {
    const std::string start = "item " + std::to_string(i) + ": " + item.key.Text() + " index " +
                              std::to_string(item.index);
    FUZZ_CHECK(line.rfind(start, 0) == 0);
    std::string rest = line.substr(start.size());
    if (!item.inCatalog) {
        FUZZ_CHECK(rest == " (not in the catalog)");
        return;
    }
    const std::string vendorFile = Field(item.vendorFile);
    FUZZ_CHECK(rest.rfind(" vendor-file " + vendorFile + " ", 0) == 0);
    rest = rest.substr(13 + vendorFile.size() + 1);
    const PackOutcome& outcome = item.outcome;
    std::string state = outcome.kind == PackOutcome::Kind::OpenFailed ? "missing"
                        : outcome.kind == PackOutcome::Kind::Mismatch ? "mismatch"
                        : outcome.kind == PackOutcome::Kind::Outside  ? "outside"
                                                                      : "included";
    if (outcome.kind == PackOutcome::Kind::Included) {
        state += (item.entry.empty() ? "" : " entry " + Field(item.entry)) + " size " +
                 std::to_string(outcome.size);
        if (outcome.sha256) {
            state += " sha256 " + Sha256Text(*outcome.sha256) + " verified";
        }
    }
    FUZZ_CHECK(rest == state + (item.title.empty() ? "" : " title " + Field(item.title)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    const ManifestFacts facts = Facts(in);
    const std::string text = ManifestText(facts);
    const std::vector<std::string> lines = Lines(text);
    const size_t head = facts.unwrittenLogError != 0 ? 8 : 7;
    FUZZ_CHECK(lines.size() == head + facts.items.size());
    FUZZ_CHECK(LinesToAnyReader(text) == lines.size());
    FUZZ_CHECK(lines[0] == "package-format: 2");
    FUZZ_CHECK(lines[1] == "source: " + Field(facts.source));
    FUZZ_CHECK(lines[2] == "deployment-log: " + Field(facts.deploymentLog));
    FUZZ_CHECK(lines[3] == "deployment-log-level: " + std::to_string(facts.deploymentLogLevel));
    FUZZ_CHECK(lines[4] == "events-handler: " + Field(facts.eventsHandler));
    std::ostringstream flags;
    flags << "flags: 0x" << std::uppercase << std::hex;
    flags.width(4);
    flags.fill('0');
    flags << facts.flags;
    FUZZ_CHECK(lines[5] == flags.str());
    if (facts.unwrittenLogError != 0) {
        FUZZ_CHECK(lines[6] == "packager-log: " + Field(facts.unwrittenLog) +
                                   " not written, error " +
                                   std::to_string(facts.unwrittenLogError));
    }
    FUZZ_CHECK(lines[head - 1] == "items: " + std::to_string(facts.items.size()));
    for (size_t i = 0; i < facts.items.size(); ++i) {
        CheckItem(lines[head + i], i, facts.items[i]);
    }
    return 0;
}
