#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Catalog.h"
#include "Manifest.h"
#include "PackagerInterface.h"
#include "PackagerLog.h"
#include "ZipArchive.h"

// Writes one package for a request: the vendor files of its items, each entry name once, then
// the manifest, into a temporary file renamed over the target only when complete. The patch
// the library was initialised for (`requested`) must be in it.
class PackageWriter {
  public:
    PackageWriter(const PatchCatalog& catalog, PackagerLog& log,
                  const std::optional<PatchKey>& requested);

    // S_OK, or the library's status of the failure (the log says why).
    int32_t Write(const PackageRequest& request, const std::wstring& packageFile,
                  const DeploymentOptions& options);

  private:
    // A vendor file that goes into the package, under its entry name, and what became of it.
    struct Vendor {
        std::string entry;
        std::wstring path;
        bool requested = false;
        std::optional<Sha256Digest> pinned;
        std::optional<VendorState> state;  // none before it was written
        uint64_t size = 0;
    };

    void Collect(const PackageRequest& request);
    int32_t RequireRequested(const PackageRequest& request);
    int32_t WritePackage(const std::wstring& folder, const std::wstring& packageFile,
                         const PackageRequest& request, const DeploymentOptions& options,
                         bool removeTemporary);
    int32_t WriteEntries(HANDLE file, const PackageRequest& request,
                         const DeploymentOptions& options, std::string* why);
    int32_t Record(Vendor& vendor, const PackOutcome& outcome, std::string* why);
    int32_t Failure(const PackResult& result, std::string* why) const;
    ManifestFacts Facts(const PackageRequest& request, const DeploymentOptions& options) const;
    bool IsRequested(const PatchKey& key) const { return requested && *requested == key; }

    const PatchCatalog& catalog;
    PackagerLog& log;
    std::optional<PatchKey> requested;
    std::vector<Vendor> vendors;
    std::vector<int> vendorOfItem;  // of each request item, its vendor, or -1 (not in the catalog)
};

// The key of an item or patch of the interface.
PatchKey KeyOf(const GUID& id, uint16_t languageId);
