#include "ReferencePackager.h"

#include <cctype>
#include <cstring>
#include <new>
#include <unordered_map>

#include "CatalogText.h"
#include "GuidText.h"
#include "TemporaryPackage.h"
#include "Text.h"
#include "WinResources.h"

namespace {

constexpr int kLogError = PackagerLog::kError;
constexpr int kLogWarning = PackagerLog::kWarning;
constexpr int kLogInfo = PackagerLog::kInfo;

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%04X", value);
    return text;
}

// 0 when `path` opens for reading, else the platform's error code.
DWORD ReadableFile(const std::wstring& path) {
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file ? 0 : GetLastError();
}

// The manifest's lines before the items. A packager log that could not be written (up to the
// manifest, which is written last) is named here, so that its loss is on record with the
// package.
std::string ManifestHead(const PackageRequest& request, const DeploymentOptions& options,
                         const PackagerLog& log) {
    auto text = [](const wchar_t* value) { return ToUtf8(value != nullptr ? value : L""); };
    std::string head = "package-format: 2\r\nsource: " + text(request.source) + "\r\n";
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
        pins.clear();
        for (size_t i = 0; i < catalog.size(); ++i) {
            byKey.emplace(Key(catalog[i].id, catalog[i].languageId), i);
            if (catalog[i].sha256) {
                pins.emplace(FoldAsciiCase(catalog[i].entryName), *catalog[i].sha256);
            }
        }
        WIN32_FILE_ATTRIBUTE_DATA attributes;
        catalogModified =
            GetFileAttributesExW(info->catalogFile, GetFileExInfoStandard, &attributes)
                ? UnixTime(attributes.ftLastWriteTime)
                : 0;
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
    Contents contents = Collect(request);
    if (const int32_t status = RequireRequested(request); status != S_OK) {
        return status;
    }
    const int32_t status =
        WritePackage(folder, packageFile, request, options, contents, removeTemporary);
    if (status == S_OK) {
        size_t included = 0;
        for (const Vendor& vendor : contents.vendors) {
            included += vendor.state == Vendor::State::Included ? 1 : 0;
        }
        log.Write(kLogInfo, "package written: " + ToUtf8(packageFile) + " (" +
                                std::to_string(included) + " vendor files)");
    }
    return status;
}

// The vendor files of the request's items, each entry name once: two patches may share one
// vendor file, and a ZIP with two entries of one name is read differently by different
// tools. A file the catalog pins is checked whichever of its lines pins it.
ReferencePackager::Contents ReferencePackager::Collect(const PackageRequest& request) const {
    Contents contents;
    std::unordered_map<std::string, size_t> byEntry;  // entry names as Windows compares them
    for (uint32_t i = 0; i < request.count; ++i) {
        const PackageItem& item = request.items[i];
        const CatalogPatch* patch = Find(item.id, item.languageId);
        if (patch == nullptr) {
            contents.vendorOfItem.push_back(-1);
            continue;
        }
        const std::string folded = FoldAsciiCase(patch->entryName);
        const auto [at, added] = byEntry.emplace(folded, contents.vendors.size());
        if (added) {
            Vendor vendor;
            vendor.entry = patch->entryName;
            vendor.path = patch->vendorFile;
            if (const auto pin = pins.find(folded); pin != pins.end()) {
                vendor.pinned = pin->second;
            }
            contents.vendors.push_back(std::move(vendor));
        }
        contents.vendors[at->second].requested |= IsRequested(item.id, item.languageId);
        contents.vendorOfItem.push_back(static_cast<int>(at->second));
    }
    return contents;
}

// Writes the package beside `packageFile` and renames it into place only when complete.
int32_t ReferencePackager::WritePackage(const std::wstring& folder, const std::wstring& packageFile,
                                        const PackageRequest& request,
                                        const DeploymentOptions& options, Contents& contents,
                                        bool removeTemporary) {
    TemporaryPackage temporary;
    if (const DWORD error = temporary.Create(folder); error != 0) {
        log.Write(kLogError, "cannot create a temporary file in " + ToUtf8(folder) + ", error " +
                                 std::to_string(error));
        return KQ_E_TARGET_UNWRITABLE;
    }
    std::string why;
    int32_t status = WriteEntries(temporary.Handle(), request, options, contents, &why);
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

// The vendor files first, then the manifest: it tells what became of each file, which is
// known only once the file has been read.
int32_t ReferencePackager::WriteEntries(HANDLE file, const PackageRequest& request,
                                        const DeploymentOptions& options, Contents& contents,
                                        std::string* why) {
    ZipOptions settings;
    settings.workers = ProcessorWorkers();
    settings.flushEvery = 16 << 20;
    ZipWriter writer(file, settings, kZipLimits);
    std::vector<ZipWriter::FileToAdd> files;
    for (const Vendor& vendor : contents.vendors) {
        files.push_back({vendor.entry, vendor.path, vendor.pinned});
    }
    int32_t status = S_OK;
    const PackResult added = writer.AddFiles(files, [&](size_t i, const PackOutcome& outcome) {
        status = Record(contents.vendors[i], outcome, why);
        return status == S_OK;
    });
    if (status != S_OK) {
        return status;
    }
    if (added.status != ZipStatus::Ok) {
        return Failure(added, contents.vendors, why);
    }
    const std::string manifest = Manifest(request, options, contents);
    if (writer.AddBytes("manifest.txt", manifest, catalogModified) != ZipStatus::Ok) {
        *why = "cannot write the manifest, error " + std::to_string(writer.SystemError());
        return KQ_E_TARGET_UNWRITABLE;
    }
    if (writer.Finish() != ZipStatus::Ok) {
        *why = "cannot finish the package, error " + std::to_string(writer.SystemError());
        return KQ_E_TARGET_UNWRITABLE;
    }
    return S_OK;
}

// What became of one vendor file. A missing file, or one that is not what the catalog pins,
// costs the package that file, unless it is the requested patch's: then the package fails.
int32_t ReferencePackager::Record(Vendor& vendor, const PackOutcome& outcome, std::string* why) {
    const std::string name = ToUtf8(vendor.path);
    const DWORD error = outcome.error;
    switch (outcome.kind) {
        case PackOutcome::Kind::OpenFailed:
            if ((error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) ||
                vendor.requested) {
                *why = "cannot read " + name + ", error " + std::to_string(error);
                return vendor.requested ? KQ_E_REQUESTED_PATCH_MISSING
                                        : KQ_E_VENDOR_FILE_UNREADABLE;
            }
            vendor.state = Vendor::State::Missing;
            log.Write(kLogWarning, "vendor file missing: " + name);
            return S_OK;
        case PackOutcome::Kind::Mismatch: {
            const std::string digests =
                "the vendor file " + name + " does not match its pinned sha256 digest: expected " +
                Sha256Text(*vendor.pinned) + ", found " + Sha256Text(*outcome.sha256);
            if (vendor.requested) {
                *why = digests + "; no package written";
                return KQ_E_REQUESTED_PATCH_MISMATCH;
            }
            vendor.state = Vendor::State::Mismatch;
            log.Write(kLogWarning, digests + "; left out of the package");
            return S_OK;
        }
        default:
            vendor.state = Vendor::State::Included;
            vendor.size = outcome.size;
            log.Write(kLogInfo, "added " + vendor.entry);
            return S_OK;
    }
}

// The status of a package that could not be written to its end.
int32_t ReferencePackager::Failure(const PackResult& result, const std::vector<Vendor>& vendors,
                                   std::string* why) {
    const Vendor& vendor = vendors[result.file];
    const std::string error = ", error " + std::to_string(result.error);
    switch (result.status) {
        case ZipStatus::ReadFailed:
            *why = "cannot read " + ToUtf8(vendor.path) + error;
            return vendor.requested ? KQ_E_REQUESTED_PATCH_MISSING : KQ_E_VENDOR_FILE_UNREADABLE;
        case ZipStatus::OutOfMemory:
            *why = "out of memory while writing " + vendor.entry;
            return E_OUTOFMEMORY;
        default:
            *why = "cannot write " + vendor.entry + error;
            return KQ_E_TARGET_UNWRITABLE;
    }
}

// One line per item: its patch, its vendor file and what became of that file.
std::string ReferencePackager::Manifest(const PackageRequest& request,
                                        const DeploymentOptions& options,
                                        const Contents& contents) const {
    std::string lines = ManifestHead(request, options, log);
    for (uint32_t i = 0; i < request.count; ++i) {
        const PackageItem& item = request.items[i];
        std::string line = "item " + std::to_string(i) + ": " + GuidToText(item.id) + " " +
                           Hex(item.languageId) + " index " + std::to_string(item.index);
        const int at = contents.vendorOfItem[i];
        if (at < 0) {
            lines += line + " (not in the catalog)\r\n";
            continue;
        }
        const CatalogPatch* patch = Find(item.id, item.languageId);
        const Vendor& vendor = contents.vendors[static_cast<size_t>(at)];
        line += " vendor-file " + ToUtf8(patch->vendorFile);
        if (vendor.state == Vendor::State::Included) {
            line += " included size " + std::to_string(vendor.size);
            if (vendor.pinned) {
                line += " sha256 " + Sha256Text(*vendor.pinned) + " verified";
            }
        } else {
            line += vendor.state == Vendor::State::Mismatch ? " mismatch" : " missing";
        }
        if (!patch->title.empty()) {
            line += " title " + patch->title;
        }
        lines += line + "\r\n";
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
