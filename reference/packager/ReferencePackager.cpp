#include "ReferencePackager.h"

#include <cstring>
#include <new>

#include "GuidText.h"
#include "PackageWriter.h"
#include "Text.h"
#include "WinResources.h"

namespace {

constexpr int kLogError = PackagerLog::kError;
constexpr int kLogInfo = PackagerLog::kInfo;

}  // namespace

HRESULT ReferencePackager::QueryInterface(const IID& iid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    // {00000000-0000-0000-C000-000000000046}
    static const GUID unknown = {0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    if (std::memcmp(&iid, &IID_IPackager, sizeof(IID)) == 0 ||
        std::memcmp(&iid, &unknown, sizeof(IID)) == 0) {
        AddRef();
        *object = this;
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG ReferencePackager::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&references));
}

ULONG ReferencePackager::Release() {
    const LONG left = InterlockedDecrement(&references);
    if (left == 0) {
        delete this;
    }
    return static_cast<ULONG>(left);
}

int32_t ReferencePackager::Initialize(const PackagerInitInfo* info) {
    try {
        if (info == nullptr || info->catalogFile == nullptr) {
            return E_INVALIDARG;
        }
        log.Configure(info->packagerLog != nullptr ? info->packagerLog : L"",
                      info->packagerLogLevel);
        log.Write(kLogInfo, "catalog: " + ToUtf8(info->catalogFile));
        // Initialised again, the object answers for the new catalog only, or for none.
        initialized = false;
        requested.reset();
        std::string detail;
        const CatalogStatus status = catalog.Read(info->catalogFile, &detail);
        if (status != CatalogStatus::Ok) {
            log.Write(kLogError, detail);
            return status == CatalogStatus::NotFound ? KQ_E_CATALOG_NOT_FOUND
                                                     : KQ_E_CATALOG_CORRUPT;
        }
        initialized = true;
        log.Write(kLogInfo,
                  "catalog offers " + std::to_string(catalog.Patches().size()) + " patches");
        if (info->patchCount >= 1 && info->patches != nullptr) {
            requested = KeyOf(info->patches[0].id, info->patches[0].languageId);
            log.Write(kLogInfo, "requested: " + requested->Text() +
                                    (catalog.Find(*requested) ? "" : " (not in the catalog)"));
        }
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

int32_t ReferencePackager::GetAvailablePatches(PatchList* list) {
    try {
        if (list == nullptr) {
            return E_INVALIDARG;
        }
        if (!initialized) {
            return KQ_E_NOT_INITIALIZED;
        }
        listed.clear();
        for (const CatalogPatch& patch : catalog.Patches()) {
            listed.push_back(PatchInfo{ToGuid(patch.key.id), patch.key.languageId, 0});
        }
        list->count = static_cast<uint32_t>(listed.size());
        list->patches = listed.empty() ? nullptr : listed.data();
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

int32_t ReferencePackager::GetVendorPatchFile(const PatchInfo* patch, VendorFileInfo* file) {
    if (patch == nullptr || file == nullptr) {
        return E_INVALIDARG;
    }
    if (!initialized) {
        return KQ_E_NOT_INITIALIZED;
    }
    const CatalogPatch* found = catalog.Find(KeyOf(patch->id, patch->languageId));
    if (found == nullptr) {
        return KQ_E_PATCH_UNKNOWN;
    }
    // The string belongs to the library: the catalog's own, UTF-16 as wchar_t is here.
    file->fileName = reinterpret_cast<const wchar_t*>(found->vendorFile.c_str());
    return S_OK;
}

int32_t ReferencePackager::CreatePackage(const PackageRequest* request, const wchar_t* packageFile,
                                         const DeploymentOptions* options) {
    try {
        if (request == nullptr || packageFile == nullptr || packageFile[0] == L'\0' ||
            options == nullptr || (request->count > 0 && request->items == nullptr)) {
            return E_INVALIDARG;
        }
        if (!initialized) {
            return KQ_E_NOT_INITIALIZED;
        }
        log.BeginCall();
        PackageWriter writer(catalog, log, requested);
        return writer.Write(*request, packageFile, *options);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

extern "C" __declspec(dllexport) HRESULT
    __stdcall CreatePackager(const IID* iid, IPackager** packager) {
    if (packager == nullptr) {
        return E_POINTER;
    }
    *packager = nullptr;
    if (iid == nullptr || std::memcmp(iid, &IID_IPackager, sizeof(IID)) != 0) {
        return E_NOINTERFACE;
    }
    *packager = new (std::nothrow) ReferencePackager();
    return *packager != nullptr ? S_OK : E_OUTOFMEMORY;
}
