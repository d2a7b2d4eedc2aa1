#include "ReferencePackager.h"

#include <cctype>
#include <cstring>
#include <new>
#include <unordered_map>

#include "TemporaryPackage.h"
#include "GuidText.h"
#include "Text.h"
#include "WinResources.h"
#include "ZipArchive.h"

namespace {

constexpr int kLogError = PackagerLog::kError;
constexpr int kLogWarning = PackagerLog::kWarning;
constexpr int kLogInfo = PackagerLog::kInfo;

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%04X", value);
    return text;
}

// The name a vendor file gets inside the package: its path relative to the current folder,
// with forward slashes, "." steps dropped and ".." steps resolved. The catalog admits only
// names that stay inside the folder, so no reader of the package is led outside the folder
// it unpacks into, and two spellings of one file get one name.
std::string EntryName(const std::wstring& vendorFile) {
    const std::string path = ToUtf8(vendorFile);
    std::vector<std::string> steps;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find_first_of("\\/", start);
        if (end == std::string::npos) {
            end = path.size();
        }
        const std::string step = path.substr(start, end - start);
        if (step == ".." && !steps.empty()) {
            steps.pop_back();
        } else if (!step.empty() && step != "." && step != "..") {
            steps.push_back(step);
        }
        start = end + 1;
    }
    std::string name;
    for (const std::string& step : steps) {
        name += (name.empty() ? "" : "/") + step;
    }
    return name.empty() ? "unnamed" : name;
}

std::string FoldCase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// 0 when `path` opens for reading, else the platform's error code.
DWORD ReadableFile(const std::wstring& path) {
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file ? 0 : GetLastError();
}

// The manifest's lines before the items. A packager log that could not be written is named
// here, so that its loss is on record with the package.
std::string ManifestHead(const PackageRequest& request, const DeploymentOptions& options,
                         const PackagerLog& log) {
    auto text = [](const wchar_t* value) { return ToUtf8(value != nullptr ? value : L""); };
    std::string head = "package-format: 1\r\nsource: " + text(request.source) + "\r\n";
    head += "deployment-log: " + text(options.deploymentLog) + "\r\n";
    head += "deployment-log-level: " + std::to_string(options.deploymentLogLevel) + "\r\n";
    head += "events-handler: " + text(options.eventsHandlerDll) + "\r\n";
    head += "flags: " + Hex(options.flags) + "\r\n";
    if (log.Failure() != 0) {
        head += "packager-log: " + ToUtf8(log.Path()) + " not written, error " +
                std::to_string(log.Failure()) + "\r\n";
    }
    return head + "items: " + std::to_string(request.count) + "\r\n";
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
        hasRequested = false;
        byKey.clear();
        std::string detail;
        const CatalogStatus status = ReadCatalog(info->catalogFile, &catalog, &detail);
        if (status != CatalogStatus::Ok) {
            log.Write(kLogError, detail);
            catalog.clear();
            return status == CatalogStatus::NotFound ? KQ_E_CATALOG_NOT_FOUND
                                                     : KQ_E_CATALOG_CORRUPT;
        }
        for (size_t i = 0; i < catalog.size(); ++i) {
            byKey.emplace(Key(catalog[i].id, catalog[i].languageId), i);
        }
        initialized = true;
        log.Write(kLogInfo, "catalog offers " + std::to_string(catalog.size()) + " patches");
        hasRequested = info->patchCount >= 1 && info->patches != nullptr;
        if (hasRequested) {
            requested = info->patches[0];
            log.Write(
                kLogInfo,
                "requested: " + GuidToText(requested.id) + " " + Hex(requested.languageId) +
                    (Find(requested.id, requested.languageId) ? "" : " (not in the catalog)"));
        }
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

bool ReferencePackager::IsRequested(const GUID& id, uint16_t languageId) const {
    return hasRequested && std::memcmp(&requested.id, &id, sizeof(GUID)) == 0 &&
           requested.languageId == languageId;
}

// The key of a patch: its GUID's 16 bytes and its language.
std::string ReferencePackager::Key(const GUID& id, uint16_t languageId) {
    std::string key(reinterpret_cast<const char*>(&id), sizeof(GUID));
    key.append(reinterpret_cast<const char*>(&languageId), sizeof(languageId));
    return key;
}

// A request lists every patch of the catalog: looked up by key, not by a scan per item.
const CatalogPatch* ReferencePackager::Find(const GUID& id, uint16_t languageId) const {
    const auto found = byKey.find(Key(id, languageId));
    return found == byKey.end() ? nullptr : &catalog[found->second];
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
    const std::wstring folder = FolderOf(packageFile);
    // Runs that were killed left their temporary packages; a run that keeps its own for
    // inspection leaves everyone's alone.
    if (removeTemporary) {
        if (const int removed = TemporaryPackage::SweepStale(folder); removed > 0) {
            log.Write(kLogInfo, "removed " + std::to_string(removed) +
                                    " temporary packages of runs that ended early");
        }
    }
    std::vector<Vendor> vendors;
    const std::string items = ManifestItems(request, &vendors);
    if (const int32_t status = RequireRequested(request); status != S_OK) {
        return status;
    }
    const std::string manifest = ManifestHead(request, options, log) + items;
    const int32_t status = WritePackage(folder, packageFile, manifest, vendors, removeTemporary);
    if (status == S_OK) {
        log.Write(kLogInfo, "package written: " + ToUtf8(packageFile) + " (" +
                                std::to_string(vendors.size()) + " vendor files)");
    }
    return status;
}

// Writes the package beside `packageFile` and renames it into place only when complete.
int32_t ReferencePackager::WritePackage(const std::wstring& folder, const std::wstring& packageFile,
                                        const std::string& manifest,
                                        const std::vector<Vendor>& vendors, bool removeTemporary) {
    TemporaryPackage temporary;
    if (const DWORD error = temporary.Create(folder); error != 0) {
        log.Write(kLogError, "cannot create a temporary file in " + ToUtf8(folder) + ", error " +
                                 std::to_string(error));
        return KQ_E_TARGET_UNWRITABLE;
    }
    std::string why;
    int32_t status = WriteEntries(temporary.Handle(), manifest, vendors, &why);
    if (status == S_OK) {
        if (const DWORD error = temporary.Flush(); error != 0) {
            why = "cannot finish the package, error " + std::to_string(error);
            status = KQ_E_TARGET_UNWRITABLE;
        } else if (const DWORD renamed = temporary.RenameOver(packageFile); renamed != 0) {
            why = "cannot replace " + ToUtf8(packageFile) + ", error " + std::to_string(renamed);
            status = KQ_E_TARGET_UNWRITABLE;
        }
    }
    if (status != S_OK) {
        log.Write(kLogError, why);
        if (!removeTemporary) {
            log.Write(kLogInfo, "kept the partial package " + ToUtf8(temporary.Path()));
        }
        temporary.Discard(removeTemporary);
    }
    return status;
}

// One manifest line per item; the vendor files that exist go into `vendors`, each entry name
// once: two patches may share one vendor file, and a ZIP with two entries of one name is
// read differently by different tools.
std::string ReferencePackager::ManifestItems(const PackageRequest& request,
                                             std::vector<Vendor>* vendors) {
    std::string lines;
    std::unordered_map<std::string, size_t> byEntry;  // entry names as Windows compares them
    for (uint32_t i = 0; i < request.count; ++i) {
        const PackageItem& item = request.items[i];
        const CatalogPatch* patch = Find(item.id, item.languageId);
        std::string line = "item " + std::to_string(i) + ": " + GuidToText(item.id) + " " +
                           Hex(item.languageId) + " index " + std::to_string(item.index);
        if (patch == nullptr) {
            lines += line + " (not in the catalog)\r\n";
            continue;
        }
        const bool present =
            GetFileAttributesW(patch->vendorFile.c_str()) != INVALID_FILE_ATTRIBUTES;
        line += " vendor-file " + ToUtf8(patch->vendorFile) + (present ? " included" : " missing");
        if (!patch->title.empty()) {
            line += " title " + patch->title;
        }
        lines += line + "\r\n";
        if (!present) {
            log.Write(kLogWarning, "vendor file missing: " + ToUtf8(patch->vendorFile));
            continue;
        }
        const std::string entry = EntryName(patch->vendorFile);
        const bool requestedHere = IsRequested(item.id, item.languageId);
        const auto [at, added] = byEntry.emplace(FoldCase(entry), vendors->size());
        if (added) {
            vendors->push_back({entry, patch->vendorFile, requestedHere});
        } else {
            (*vendors)[at->second].requested |= requestedHere;
        }
    }
    return lines;
}

// The patch the library was initialised for must be in the package: without its vendor file
// the caller would be told of a package that does not do what it was built for.
int32_t ReferencePackager::RequireRequested(const PackageRequest& request) {
    if (!hasRequested) {
        return S_OK;
    }
    const std::string name = GuidToText(requested.id) + " " + Hex(requested.languageId);
    bool listedInRequest = false;
    for (uint32_t i = 0; i < request.count && !listedInRequest; ++i) {
        listedInRequest = IsRequested(request.items[i].id, request.items[i].languageId);
    }
    const CatalogPatch* patch = Find(requested.id, requested.languageId);
    std::string why;
    if (!listedInRequest) {
        why = "the request does not include the requested patch " + name;
    } else if (patch == nullptr) {
        why = "the requested patch " + name + " is not in the catalog";
    } else if (const DWORD error = ReadableFile(patch->vendorFile); error != 0) {
        why = "the vendor file " + ToUtf8(patch->vendorFile) + " of the requested patch " + name +
              (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? " is missing"
                   : " cannot be read, error " + std::to_string(error));
    } else {
        return S_OK;
    }
    log.Write(kLogError, why + "; no package written");
    return KQ_E_REQUESTED_PATCH_MISSING;
}

int32_t ReferencePackager::WriteEntries(HANDLE file, const std::string& manifest,
                                        const std::vector<Vendor>& vendors, std::string* why) {
    ZipWriter writer(file);
    if (writer.AddBytes("manifest.txt", manifest) != ZipStatus::Ok) {
        *why = "cannot write the manifest, error " + std::to_string(writer.SystemError());
        return KQ_E_TARGET_UNWRITABLE;
    }
    for (const Vendor& vendor : vendors) {
        const ZipStatus added = writer.AddFile(vendor.entry, vendor.path);
        if (added == ZipStatus::OpenFailed || added == ZipStatus::ReadFailed) {
            *why = "cannot read " + ToUtf8(vendor.path) + ", error " +
                   std::to_string(writer.SystemError());
            return vendor.requested ? KQ_E_REQUESTED_PATCH_MISSING : KQ_E_VENDOR_FILE_UNREADABLE;
        }
        if (added != ZipStatus::Ok) {
            *why =
                "cannot write " + vendor.entry + ", error " + std::to_string(writer.SystemError());
            return KQ_E_TARGET_UNWRITABLE;
        }
        log.Write(kLogInfo, "added " + vendor.entry);
    }
    if (writer.Finish() != ZipStatus::Ok) {
        *why = "cannot finish the package, error " + std::to_string(writer.SystemError());
        return KQ_E_TARGET_UNWRITABLE;
    }
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
