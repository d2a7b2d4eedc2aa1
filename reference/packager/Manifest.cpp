#include "Manifest.h"

#include <cstdio>

namespace {

std::string Hex4(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%04X", value);
    return text;
}

// A packager log that could not be written (up to the manifest, which is written last) is
// named here, so that its loss is on record with the package.
std::string Head(const ManifestFacts& facts) {
    std::string head = "package-format: 2\r\nsource: " + facts.source + "\r\n";
    head += "deployment-log: " + facts.deploymentLog + "\r\n";
    head += "deployment-log-level: " + std::to_string(facts.deploymentLogLevel) + "\r\n";
    head += "events-handler: " + facts.eventsHandler + "\r\n";
    head += "flags: " + Hex4(facts.flags) + "\r\n";
    if (facts.unwrittenLogError != 0) {
        head += "packager-log: " + facts.unwrittenLog + " not written, error " +
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
    line += " vendor-file " + item.vendorFile;
    if (item.state == VendorState::Included) {
        line += " included size " + std::to_string(item.size);
        if (item.sha256) {
            line += " sha256 " + Sha256Text(*item.sha256) + " verified";
        }
    } else {
        line += item.state == VendorState::Mismatch ? " mismatch" : " missing";
    }
    if (!item.title.empty()) {
        line += " title " + item.title;
    }
    return line + "\r\n";
}

}  // namespace

std::string ManifestText(const ManifestFacts& facts) {
    std::string text = Head(facts);
    for (size_t i = 0; i < facts.items.size(); ++i) {
        text += ItemLine(i, facts.items[i]);
    }
    return text;
}
