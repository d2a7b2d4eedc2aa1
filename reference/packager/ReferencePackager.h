#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "Catalog.h"
#include "PackagerInterface.h"
#include "PackagerLog.h"
#include "ZipArchive.h"

// Failure statuses of the reference library (all negative, so callers see failures).
inline constexpr int32_t KQ_E_NOT_INITIALIZED = static_cast<int32_t>(0x8004A001);
inline constexpr int32_t KQ_E_CATALOG_NOT_FOUND = static_cast<int32_t>(0x8004A002);
inline constexpr int32_t KQ_E_CATALOG_CORRUPT = static_cast<int32_t>(0x8004A003);
inline constexpr int32_t KQ_E_PATCH_UNKNOWN = static_cast<int32_t>(0x8004A004);
inline constexpr int32_t KQ_E_TARGET_UNWRITABLE = static_cast<int32_t>(0x8004A005);
inline constexpr int32_t KQ_E_VENDOR_FILE_UNREADABLE = static_cast<int32_t>(0x8004A006);
inline constexpr int32_t KQ_E_REQUESTED_PATCH_MISSING = static_cast<int32_t>(0x8004A007);
inline constexpr int32_t KQ_E_REQUESTED_PATCH_MISMATCH = static_cast<int32_t>(0x8004A008);

// The reference implementation of the packager object: reads the catalog, names vendor
// files and writes packages. No exception leaves any of its methods.
class ReferencePackager : public IPackager {
  public:
    HRESULT __stdcall QueryInterface(const IID& iid, void** object) override;
    ULONG __stdcall AddRef() override;
    ULONG __stdcall Release() override;
    int32_t __stdcall Initialize(const PackagerInitInfo* info) override;
    int32_t __stdcall GetAvailablePatches(PatchList* list) override;
    int32_t __stdcall Reserved5() override { return E_NOTIMPL; }
    int32_t __stdcall Reserved6() override { return E_NOTIMPL; }
    int32_t __stdcall GetVendorPatchFile(const PatchInfo* patch, VendorFileInfo* file) override;
    int32_t __stdcall Reserved8() override { return E_NOTIMPL; }
    int32_t __stdcall Reserved9() override { return E_NOTIMPL; }
    int32_t __stdcall CreatePackage(const PackageRequest* request, const wchar_t* packageFile,
                                    const DeploymentOptions* options) override;

    virtual ~ReferencePackager() = default;

  private:
    // A vendor file that goes into the package, under its entry name, and what became of it.
    struct Vendor {
        enum class State { Pending, Included, Missing, Mismatch };
        std::string entry;
        std::wstring path;
        bool requested = false;
        std::optional<Sha256Digest> pinned;
        State state = State::Pending;
        uint64_t size = 0;
    };
    // The request's items with their vendor files (an index into `vendors`, or -1 for an item
    // the catalog does not list).
    struct Contents {
        std::vector<Vendor> vendors;
        std::vector<int> vendorOfItem;
    };

    int32_t Build(const PackageRequest& request, const std::wstring& packageFile,
                  const DeploymentOptions& options);
    Contents Collect(const PackageRequest& request) const;
    int32_t WritePackage(const std::wstring& folder, const std::wstring& packageFile,
                         const PackageRequest& request, const DeploymentOptions& options,
                         Contents& contents, bool removeTemporary);
    int32_t WriteEntries(HANDLE file, const PackageRequest& request,
                         const DeploymentOptions& options, Contents& contents, std::string* why);
    int32_t Record(Vendor& vendor, const PackOutcome& outcome, std::string* why);
    static int32_t Failure(const PackResult& result, const std::vector<Vendor>& vendors,
                           std::string* why);
    std::string Manifest(const PackageRequest& request, const DeploymentOptions& options,
                         const Contents& contents) const;
    int32_t RequireRequested(const PackageRequest& request);
    static std::string Key(const GUID& id, uint16_t languageId);
    const CatalogPatch* Find(const GUID& id, uint16_t languageId) const;
    bool IsRequested(const GUID& id, uint16_t languageId) const;

    LONG references = 1;
    bool initialized = false;
    PackagerLog log;
    // The patch Initialize named: a package without its vendor file is no package.
    bool hasRequested = false;
    PatchInfo requested{};
    std::vector<CatalogPatch> catalog;
    std::unordered_map<std::string, size_t> byKey;  // of each catalog patch, its place
    // Of each vendor file the catalog pins (by its entry name without letter case), the digest.
    std::unordered_map<std::string, Sha256Digest> pins;
    int64_t catalogModified = 0;  // the manifest's time in the package
    std::vector<PatchInfo> listed;
};
