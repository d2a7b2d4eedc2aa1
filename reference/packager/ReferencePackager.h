#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Catalog.h"
#include "PackagerInterface.h"
#include "PackagerLog.h"

// Failure statuses of the reference library (all negative, so callers see failures).
inline constexpr int32_t KQ_E_NOT_INITIALIZED = static_cast<int32_t>(0x8004A001);
inline constexpr int32_t KQ_E_CATALOG_NOT_FOUND = static_cast<int32_t>(0x8004A002);
inline constexpr int32_t KQ_E_CATALOG_CORRUPT = static_cast<int32_t>(0x8004A003);
inline constexpr int32_t KQ_E_PATCH_UNKNOWN = static_cast<int32_t>(0x8004A004);
inline constexpr int32_t KQ_E_TARGET_UNWRITABLE = static_cast<int32_t>(0x8004A005);
inline constexpr int32_t KQ_E_VENDOR_FILE_UNREADABLE = static_cast<int32_t>(0x8004A006);
inline constexpr int32_t KQ_E_REQUESTED_PATCH_MISSING = static_cast<int32_t>(0x8004A007);
inline constexpr int32_t KQ_E_REQUESTED_PATCH_MISMATCH = static_cast<int32_t>(0x8004A008);
inline constexpr int32_t KQ_E_REQUESTED_PATCH_OUTSIDE = static_cast<int32_t>(0x8004A009);

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
    LONG references = 1;
    bool initialized = false;
    PackagerLog log;
    // The patch Initialize named: a package without its vendor file is no package.
    std::optional<PatchKey> requested;
    PatchCatalog catalog;
    std::vector<PatchInfo> listed;
};
