#include "Catalog.h"

#include <cstring>

#include "CatalogText.h"
#include "ZipArchive.h"

namespace {

constexpr uint64_t kMaxCatalogText = 64ull << 20;

static_assert(sizeof(char16_t) == sizeof(wchar_t), "UTF-16 on both sides");

}  // namespace

bool StaysInCurrentFolder(const std::wstring& name) {
    return StaysInCurrentFolder(
        std::u16string_view(reinterpret_cast<const char16_t*>(name.data()), name.size()));
}

bool ParseCatalogText(const std::string& text, std::vector<CatalogPatch>* patches,
                      std::string* detail) {
    patches->clear();
    std::vector<CatalogLine> lines;
    if (!ParseCatalogText(std::string_view(text), &lines, detail)) {
        return false;
    }
    for (CatalogLine& line : lines) {
        CatalogPatch patch{};
        std::memcpy(&patch.id, &line.id, sizeof(GUID));
        patch.languageId = line.languageId;
        patch.vendorFile.assign(line.vendorFile.begin(), line.vendorFile.end());
        patch.entryName = std::move(line.entryName);
        patch.sha256 = line.sha256;
        patch.title = std::move(line.title);
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
