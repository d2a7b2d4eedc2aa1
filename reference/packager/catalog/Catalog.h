#pragma once

// The patch catalog "windowspatchdata.zip": one entry, "patches.csv", in the format of
// CatalogText.h, read once and then looked up by patch.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "CatalogText.h"

enum class CatalogStatus { Ok, NotFound, Corrupt };

class PatchCatalog {
  public:
    // Reads the catalog archive at `path`, in place of what the object held; a failure leaves
    // it holding nothing, and `detail` says why.
    CatalogStatus Read(const std::wstring& path, std::string* detail);

    // Every patch, in catalog order.
    const std::vector<CatalogPatch>& Patches() const { return table.Patches(); }
    // The patch of `key`; null when the catalog does not list it.
    const CatalogPatch* Find(const PatchKey& key) const { return table.Find(key); }
    // The digest a line of the catalog pins for the vendor file of entry name `entryName`
    // (compared as Windows compares names, FileNameKey), if any.
    std::optional<Sha256Digest> PinOf(const std::string& entryName) const {
        return table.PinOf(entryName);
    }
    // The catalog file's last-write time (seconds since 1970 UTC), or 0.
    int64_t Modified() const { return modified; }

  private:
    CatalogStatus Parse(const std::wstring& path, std::string* detail);

    CatalogTable table;
    int64_t modified = 0;
};
