#include "Catalog.h"

#include "FileIo.h"
#include "ZipReader.h"

namespace {

constexpr uint64_t kMaxCatalogText = 64ull << 20;

}  // namespace

CatalogStatus PatchCatalog::Read(const std::wstring& path, std::string* detail) {
    table = CatalogTable();
    modified = 0;
    // A failure leaves the table empty: Parse fills it only from a text that parses whole.
    const CatalogStatus status = Parse(path, detail);
    if (status != CatalogStatus::Ok) {
        return status;
    }
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes)) {
        modified = UnixTime(attributes.ftLastWriteTime);
    }
    return CatalogStatus::Ok;
}

CatalogStatus PatchCatalog::Parse(const std::wstring& path, std::string* detail) {
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
        return CatalogStatus::Corrupt;
    }
    if (extracted != ZipStatus::Ok) {
        *detail = extracted == ZipStatus::NotFound ? "the catalog has no patches.csv"
                                                   : "patches.csv cannot be extracted";
        return CatalogStatus::Corrupt;
    }
    return ParseCatalogText(text, &table, detail) ? CatalogStatus::Ok : CatalogStatus::Corrupt;
}
