#include "ReferencePackager.h"

#include <cstring>
#include <new>

#include "Text.h"
#include "WinResources.h"
#include "ZipArchive.h"

namespace {

constexpr int kLogError = 1;
constexpr int kLogWarning = 2;
constexpr int kLogInfo = 3;

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%04X", value);
    return text;
}

// The name a vendor file gets inside the package: its relative path with forward slashes,
// without a drive, leading separators or "." and ".." steps, so that no reader of the
// package can be led outside the folder it unpacks into.
std::string EntryName(const std::wstring& vendorFile) {
    std::string path = ToUtf8(vendorFile);
    if (path.size() > 1 && path[1] == ':') {
        path.erase(0, 2);
    }
    std::string name;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find_first_of("\\/", start);
        if (end == std::string::npos) {
            end = path.size();
        }
        const std::string step = path.substr(start, end - start);
        if (!step.empty() && step != "." && step != "..") {
            name += (name.empty() ? "" : "/") + step;
        }
        start = end + 1;
    }
    return name.empty() ? "unnamed" : name;
}

std::wstring FolderOf(const std::wstring& path) {
    const size_t at = path.find_last_of(L"\\/");
    return at == std::wstring::npos ? std::wstring(L".") : path.substr(0, at == 0 ? 1 : at);
}

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

void ReferencePackager::Log(int level, const std::string& message) {
    // A negative level is the default (information); 0 turns the log off.
    const int allowed = packagerLogLevel < 0 ? kLogInfo : packagerLogLevel;
    if (packagerLog.empty() || level > allowed) {
        return;
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[32];
    std::snprintf(stamp, sizeof(stamp), "%04u-%02u-%02u %02u:%02u:%02u ", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond);
    const char* name = level == kLogError ? "ERROR " : level == kLogWarning ? "WARN  " : "INFO  ";
    const std::string line = std::string(stamp) + name + message + "\r\n";
    const UniqueFile file(CreateFileW(packagerLog.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file) {
        WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
}

int32_t ReferencePackager::Initialize(const PackagerInitInfo* info) {
    try {
        if (info == nullptr || info->catalogFile == nullptr) {
            return E_INVALIDARG;
        }
        packagerLog = info->packagerLog != nullptr ? info->packagerLog : L"";
        packagerLogLevel = info->packagerLogLevel;
        Log(kLogInfo, "catalog: " + ToUtf8(info->catalogFile));
        std::string detail;
        const CatalogStatus status = ReadCatalog(info->catalogFile, &catalog, &detail);
        if (status != CatalogStatus::Ok) {
            Log(kLogError, detail);
            catalog.clear();
            return status == CatalogStatus::NotFound ? KQ_E_CATALOG_NOT_FOUND
                                                     : KQ_E_CATALOG_CORRUPT;
        }
        initialized = true;
        Log(kLogInfo, "catalog offers " + std::to_string(catalog.size()) + " patches");
        if (info->patchCount >= 1 && info->patches != nullptr) {
            const PatchInfo& wanted = info->patches[0];
            Log(kLogInfo, "requested: " + GuidToText(wanted.id) + " " + Hex(wanted.languageId) +
                              (Find(wanted.id, wanted.languageId) ? "" : " (not in the catalog)"));
        }
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

const CatalogPatch* ReferencePackager::Find(const GUID& id, uint16_t languageId) const {
    for (const CatalogPatch& patch : catalog) {
        if (std::memcmp(&patch.id, &id, sizeof(GUID)) == 0 && patch.languageId == languageId) {
            return &patch;
        }
    }
    return nullptr;
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
        for (const CatalogPatch& patch : catalog) {
            listed.push_back(PatchInfo{patch.id, patch.languageId, 0});
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
    const CatalogPatch* found = Find(patch->id, patch->languageId);
    if (found == nullptr) {
        return KQ_E_PATCH_UNKNOWN;
    }
    file->fileName = found->vendorFile.c_str();
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
        return Build(*request, packageFile, *options);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

int32_t ReferencePackager::Build(const PackageRequest& request, const std::wstring& packageFile,
                                 const DeploymentOptions& options) {
    const bool removeTemporary = (options.flags & kRemoveTempFilesFlag) != 0;
    std::string manifest =
        "package-format: 1\r\nsource: " + ToUtf8(request.source != nullptr ? request.source : L"") +
        "\r\n";
    manifest += "deployment-log: " +
                ToUtf8(options.deploymentLog != nullptr ? options.deploymentLog : L"") + "\r\n";
    manifest += "deployment-log-level: " + std::to_string(options.deploymentLogLevel) + "\r\n";
    manifest += "events-handler: " +
                ToUtf8(options.eventsHandlerDll != nullptr ? options.eventsHandlerDll : L"") +
                "\r\n";
    manifest += "flags: " + Hex(options.flags) + "\r\n";
    manifest += "items: " + std::to_string(request.count) + "\r\n";

    struct Vendor {
        std::string entry;
        std::wstring path;
    };
    std::vector<Vendor> vendors;
    for (uint32_t i = 0; i < request.count; ++i) {
        const PackageItem& item = request.items[i];
        const CatalogPatch* patch = Find(item.id, item.languageId);
        std::string line = "item " + std::to_string(i) + ": " + GuidToText(item.id) + " " +
                           Hex(item.languageId) + " index " + std::to_string(item.index);
        if (patch == nullptr) {
            line += " (not in the catalog)";
        } else {
            const bool present =
                GetFileAttributesW(patch->vendorFile.c_str()) != INVALID_FILE_ATTRIBUTES;
            line +=
                " vendor-file " + ToUtf8(patch->vendorFile) + (present ? " included" : " missing");
            if (!patch->title.empty()) {
                line += " title " + patch->title;
            }
            if (present) {
                vendors.push_back({EntryName(patch->vendorFile), patch->vendorFile});
            } else {
                Log(kLogWarning, "vendor file missing: " + ToUtf8(patch->vendorFile));
            }
        }
        manifest += line + "\r\n";
    }

    // Written beside the target and renamed over it only when complete: a failure leaves no
    // partial package and keeps an older one intact.
    wchar_t temporary[MAX_PATH * 4] = {};
    const std::wstring folder = FolderOf(packageFile);
    // Each error code is read right after the call that failed, before any other call (a text
    // conversion included) can change it.
    const bool folderTooLong = folder.size() + 16 >= MAX_PATH * 4;
    if (folderTooLong || GetTempFileNameW(folder.c_str(), L"kqp", 0, temporary) == 0) {
        const DWORD error = folderTooLong ? ERROR_FILENAME_EXCED_RANGE : GetLastError();
        Log(kLogError, "cannot create a temporary file in " + ToUtf8(folder) + ", error " +
                           std::to_string(error));
        return KQ_E_TARGET_UNWRITABLE;
    }
    UniqueFile file(CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        Log(kLogError, "cannot write " + ToUtf8(temporary) + ", error " + std::to_string(error));
        DeleteFileW(temporary);
        return KQ_E_TARGET_UNWRITABLE;
    }
    auto fail = [&](int32_t status, const std::string& why) {
        file.Reset();
        Log(kLogError, why);
        if (removeTemporary) {
            DeleteFileW(temporary);
        } else {
            Log(kLogInfo, "kept the partial package " + ToUtf8(temporary));
        }
        return status;
    };

    ZipWriter writer(file.Get());
    if (writer.AddBytes("manifest.txt", manifest) != ZipStatus::Ok) {
        return fail(KQ_E_TARGET_UNWRITABLE,
                    "cannot write the manifest, error " + std::to_string(writer.SystemError()));
    }
    for (const Vendor& vendor : vendors) {
        const ZipStatus added = writer.AddFile(vendor.entry, vendor.path);
        if (added == ZipStatus::OpenFailed || added == ZipStatus::ReadFailed) {
            return fail(KQ_E_VENDOR_FILE_UNREADABLE, "cannot read " + ToUtf8(vendor.path) +
                                                         ", error " +
                                                         std::to_string(writer.SystemError()));
        }
        if (added != ZipStatus::Ok) {
            return fail(KQ_E_TARGET_UNWRITABLE, "cannot write " + vendor.entry + ", error " +
                                                    std::to_string(writer.SystemError()));
        }
        Log(kLogInfo, "added " + vendor.entry);
    }
    if (writer.Finish() != ZipStatus::Ok) {
        return fail(KQ_E_TARGET_UNWRITABLE,
                    "cannot finish the package, error " + std::to_string(writer.SystemError()));
    }
    if (!FlushFileBuffers(file.Get())) {
        const DWORD error = GetLastError();
        return fail(KQ_E_TARGET_UNWRITABLE,
                    "cannot finish the package, error " + std::to_string(error));
    }
    file.Reset();
    if (!MoveFileExW(temporary, packageFile.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        Log(kLogError,
            "cannot replace " + ToUtf8(packageFile) + ", error " + std::to_string(error));
        if (removeTemporary) {
            DeleteFileW(temporary);
        }
        return KQ_E_TARGET_UNWRITABLE;
    }
    Log(kLogInfo, "package written: " + ToUtf8(packageFile) + " (" +
                      std::to_string(vendors.size()) + " vendor files)");
    return S_OK;
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
