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
#include "VendorFiles.h"
#include "ZipWriter.h"

// Writes one package for a request: the vendor files of its items (VendorFiles: each opened
// once and judged by what was opened), each entry name once, then the manifest, into a
// temporary file renamed over the target only when complete and on disk. The patch the
// library was initialised for (`requested`) must be in it.
class PackageWriter {
  public:
    PackageWriter(const PatchCatalog& catalog, PackagerLog& log,
                  const std::optional<PatchKey>& requested);

    // S_OK, or the library's status of the failure (the log says why).
    int32_t Write(const PackageRequest& request, const std::wstring& packageFile,
                  const DeploymentOptions& options);

  private:
    using Vendor = VendorFiles::Vendor;

    int32_t OpenVendors();
    int32_t RequireRequested(const PackageRequest& request);
    int32_t WritePackage(const std::wstring& folder, const std::wstring& packageFile,
                         const PackageRequest& request, const DeploymentOptions& options,
                         bool removeTemporary);
    int32_t WriteEntries(HANDLE file, const PackageRequest& request,
                         const DeploymentOptions& options, std::string* why);
    int32_t Unopened(std::string* why);
    int32_t Record(Vendor& vendor, const PackOutcome& outcome, std::string* why);
    int32_t Failure(const PackResult& result, const std::vector<size_t>& packed,
                    std::string* why) const;
    ManifestFacts Facts(const PackageRequest& request, const DeploymentOptions& options) const;
    bool IsRequested(const PatchKey& key) const { return requested && *requested == key; }

    const PatchCatalog& catalog;
    PackagerLog& log;
    std::optional<PatchKey> requested;
    VendorFiles files;
};
