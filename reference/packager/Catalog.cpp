#include "Catalog.h"

#include <cctype>
#include <cwctype>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "Text.h"
#include "ZipArchive.h"

namespace {

constexpr uint64_t kMaxCatalogText = 64ull << 20;

bool IsDosDeviceName(const std::wstring& step) {
    // CON, NUL, COM1 and the like name devices in every folder, with any extension.
    std::wstring base = step.substr(0, step.find(L'.'));
    while (!base.empty() && base.back() == L' ') {
        base.pop_back();
    }
    for (wchar_t& c : base) {
        c = static_cast<wchar_t>(std::towupper(c));
    }
    static const wchar_t* const kDevices[] = {L"CON", L"PRN",    L"AUX",
                                              L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* device : kDevices) {
        if (base == device) {
            return true;
        }
    }
    return base.size() == 4 &&
           (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
           base[3] >= L'1' && base[3] <= L'9';
}

}  // namespace

bool StaysInCurrentFolder(const std::wstring& name) {
    // Rooted ("\x", "\\server\share", "\\?\..."), drive ("C:x") and stream ("x:s") names all
    // carry a separator first or a colon.
    if (name.empty() || name[0] == L'\\' || name[0] == L'/' ||
        name.find(L':') != std::wstring::npos) {
        return false;
    }
    int depth = 0;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of(L"\\/", start);
        if (end == std::wstring::npos) {
            end = name.size();
        }
        const std::wstring step = name.substr(start, end - start);
        start = end + 1;
        if (step.empty() || step == L".") {
            continue;
        }
        if (step == L"..") {
            if (--depth < 0) {
                return false;
            }
            continue;
        }
        // Windows drops trailing dots and blanks from a step, so "... " could climb as well.
        if (step.find_first_not_of(L". ") == std::wstring::npos || IsDosDeviceName(step)) {
            return false;
        }
        ++depth;
    }
    return true;
}

bool ParseCatalogText(const std::string& text, std::vector<CatalogPatch>* patches,
                      std::string* detail) {
    patches->clear();
    // A patch listed twice would have two vendor files and one place in the package.
    std::map<std::pair<std::string, uint16_t>, int> firstLine;
    int number = 0;
    for (std::string line : SplitLines(text)) {
        ++number;
        if (number == 1 && line.size() >= 3 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) {
            line.erase(0, 3);
        }
        if (line.find_first_not_of(" \t") == std::string::npos || line.rfind("guid,", 0) == 0) {
            continue;
        }
        const size_t c1 = line.find(',');
        const size_t c2 = c1 == std::string::npos ? c1 : line.find(',', c1 + 1);
        const size_t c3 = c2 == std::string::npos ? c2 : line.find(',', c2 + 1);
        CatalogPatch patch{};
        char* end = nullptr;
        const std::string language =
            c2 == std::string::npos ? "" : line.substr(c1 + 1, c2 - c1 - 1);
        const unsigned long languageId = std::strtoul(language.c_str(), &end, 0);
        if (c2 == std::string::npos || !ParseGuidText(line.substr(0, c1), &patch.id) ||
            language.empty() || *end != '\0' || languageId == 0 || languageId > 0xFFFF) {
            *detail =
                "line " + std::to_string(number) + ": expected guid,language,vendor_file,title";
            return false;
        }
        patch.languageId = static_cast<uint16_t>(languageId);
        const std::string vendor =
            line.substr(c2 + 1, c3 == std::string::npos ? std::string::npos : c3 - c2 - 1);
        patch.vendorFile = FromUtf8(vendor, true);
        if (vendor.empty() || patch.vendorFile.empty()) {
            *detail = "line " + std::to_string(number) + ": no vendor file name";
            return false;
        }
        // The library may run under a system account: a catalog must not be able to have it
        // copy any readable file into a package.
        if (!StaysInCurrentFolder(patch.vendorFile)) {
            *detail = "line " + std::to_string(number) + ": the vendor file name " + vendor +
                      " leaves the current folder";
            return false;
        }
        patch.title = c3 == std::string::npos ? "" : line.substr(c3 + 1);
        const auto [seen, added] =
            firstLine.emplace(std::make_pair(GuidToText(patch.id), patch.languageId), number);
        if (!added) {
            char hex[8];
            std::snprintf(hex, sizeof(hex), "0x%04X", patch.languageId);
            *detail = "line " + std::to_string(number) + ": the patch " + GuidToText(patch.id) +
                      " " + hex + " is listed again (first on line " +
                      std::to_string(seen->second) + ")";
            return false;
        }
        patches->push_back(std::move(patch));
    }
    return true;
}

CatalogStatus ReadCatalog(const std::wstring& path, std::vector<CatalogPatch>* patches,
                          std::string* detail) {
    ZipReader reader;
    const ZipStatus opened = reader.Open(path);
    if (opened == ZipStatus::OpenFailed) {
        *detail = "cannot open the catalog, error " + std::to_string(reader.SystemError());
        return CatalogStatus::NotFound;
    }
    if (opened != ZipStatus::Ok) {
        *detail = "the catalog is not a readable ZIP archive";
        return CatalogStatus::Corrupt;
    }
    std::string text;
    const ZipStatus extracted = reader.Extract("patches.csv", kMaxCatalogText, &text);
    if (extracted == ZipStatus::TooLarge) {
        *detail = "patches.csv is larger than 64 MiB";
        return CatalogStatus::TooLarge;
    }
    if (extracted != ZipStatus::Ok) {
        *detail = extracted == ZipStatus::NotFound ? "the catalog has no patches.csv"
                                                   : "patches.csv cannot be extracted";
        return CatalogStatus::Corrupt;
    }
    return ParseCatalogText(text, patches, detail) ? CatalogStatus::Ok : CatalogStatus::Corrupt;
}
