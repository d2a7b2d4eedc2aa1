#pragma once

// The patch catalog "windowspatchdata.zip": one entry, "patches.csv", in the format of
// CatalogText.h, read once and then looked up by patch.

#include <windows.h>

#include <cstdint>
#include <map>
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
    const std::vector<CatalogPatch>& Patches() const { return patches; }
    // The patch of `key`; null when the catalog does not list it.
    const CatalogPatch* Find(const PatchKey& key) const;
    // The digest a line of the catalog pins for the vendor file of entry name `entryName`
    // (compared as Windows compares names, FileNameKey), if any.
    std::optional<Sha256Digest> PinOf(const std::string& entryName) const;
    // The catalog file's last-write time (seconds since 1970 UTC), or 0.
    int64_t Modified() const { return modified; }

  private:
    CatalogStatus Parse(const std::wstring& path, std::string* detail);

    std::vector<CatalogPatch> patches;
    std::map<PatchKey, size_t> byKey;             // a request lists every patch: no scan per item
    std::map<std::u16string, Sha256Digest> pins;  // by FileNameKey of the entry name
    int64_t modified = 0;
};
