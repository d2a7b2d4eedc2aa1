#pragma once

// The patch catalog "windowspatchdata.zip": one entry, "patches.csv", in the format of
// CatalogText.h.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "DigestText.h"

struct CatalogPatch {
    GUID id;
    uint16_t languageId;
    std::wstring vendorFile;             // relative to the current directory
    std::string entryName;               // its name in the package
    std::optional<Sha256Digest> sha256;  // pinned by its line
    std::string title;
};

enum class CatalogStatus { Ok, NotFound, Corrupt, TooLarge };

// Reads the catalog archive at `path`. `detail` receives a description of a failure.
CatalogStatus ReadCatalog(const std::wstring& path, std::vector<CatalogPatch>* patches,
                          std::string* detail);

// The rule of CatalogText.h for a name given as wide text.
bool StaysInCurrentFolder(const std::wstring& name);

// Parses the CSV text of a catalog; false with `detail` on the first malformed line.
bool ParseCatalogText(const std::string& text, std::vector<CatalogPatch>* patches,
                      std::string* detail);
