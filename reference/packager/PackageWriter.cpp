#include "PackageWriter.h"

#include <unordered_map>

#include "GuidText.h"
#include "ReferencePackager.h"
#include "TemporaryPackage.h"
#include "Text.h"
#include "WinResources.h"

namespace {

constexpr int kLogError = PackagerLog::kError;
constexpr int kLogWarning = PackagerLog::kWarning;
constexpr int kLogInfo = PackagerLog::kInfo;

std::wstring Wide(const std::u16string& text) {
    return std::wstring(text.begin(), text.end());
}

// 0 when `path` opens for reading, else the platform's error code.
DWORD ReadableFile(const std::wstring& path) {
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file ? 0 : GetLastError();
}

std::wstring FolderOf(const std::wstring& path) {
    const size_t at = path.find_last_of(L"\\/");
    return at == std::wstring::npos ? std::wstring(L".") : path.substr(0, at == 0 ? 1 : at);
}

}  // namespace

PatchKey KeyOf(const GUID& id, uint16_t languageId) {
    return PatchKey{ToPatchGuid(id), languageId};
}

PackageWriter::PackageWriter(const PatchCatalog& given, PackagerLog& packagerLog,
                             const std::optional<PatchKey>& requestedPatch)
    : catalog(given), log(packagerLog), requested(requestedPatch) {}

int32_t PackageWriter::Write(const PackageRequest& request, const std::wstring& packageFile,
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
    Collect(request);
    if (const int32_t status = RequireRequested(request); status != S_OK) {
        return status;
    }
    const int32_t status = WritePackage(folder, packageFile, request, options, removeTemporary);
    if (status == S_OK) {
        size_t included = 0;
        for (const Vendor& vendor : vendors) {
            included += vendor.state == VendorState::Included ? 1 : 0;
        }
        log.Write(kLogInfo, "package written: " + ToUtf8(packageFile) + " (" +
                                std::to_string(included) + " vendor files)");
    }
    return status;
}

// The vendor files of the request's items, each entry name once: two patches may share one
// vendor file, and a ZIP with two entries of one name is read differently by different
// tools. A file the catalog pins is checked whichever of its lines pins it.
void PackageWriter::Collect(const PackageRequest& request) {
    std::unordered_map<std::string, size_t> byEntry;  // entry names as Windows compares them
    for (uint32_t i = 0; i < request.count; ++i) {
        const PatchKey key = KeyOf(request.items[i].id, request.items[i].languageId);
        const CatalogPatch* patch = catalog.Find(key);
        if (patch == nullptr) {
            vendorOfItem.push_back(-1);
            continue;
        }
        const auto [at, added] = byEntry.emplace(FoldAsciiCase(patch->entryName), vendors.size());
        if (added) {
            Vendor vendor;
            vendor.entry = patch->entryName;
            vendor.path = Wide(patch->vendorFile);
            vendor.pinned = catalog.PinOf(patch->entryName);
            vendors.push_back(std::move(vendor));
        }
        vendors[at->second].requested |= IsRequested(key);
        vendorOfItem.push_back(static_cast<int>(at->second));
    }
}

// The patch the library was initialised for must be in the package: without its vendor file
// the caller would be told of a package that does not do what it was built for.
int32_t PackageWriter::RequireRequested(const PackageRequest& request) {
    if (!requested) {
        return S_OK;
    }
    const std::string name = requested->Text();
    bool listedInRequest = false;
    for (uint32_t i = 0; i < request.count && !listedInRequest; ++i) {
        listedInRequest = IsRequested(KeyOf(request.items[i].id, request.items[i].languageId));
    }
    const CatalogPatch* patch = catalog.Find(*requested);
    std::string why;
    if (!listedInRequest) {
        why = "the request does not include the requested patch " + name;
    } else if (patch == nullptr) {
        why = "the requested patch " + name + " is not in the catalog";
    } else if (const DWORD error = ReadableFile(Wide(patch->vendorFile)); error != 0) {
        why = "the vendor file " + ToUtf8(Wide(patch->vendorFile)) + " of the requested patch " +
              name +
              (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? " is missing"
                   : " cannot be read, error " + std::to_string(error));
    } else {
        return S_OK;
    }
    log.Write(kLogError, why + "; no package written");
    return KQ_E_REQUESTED_PATCH_MISSING;
}

// Writes the package beside `packageFile` and renames it into place only when complete.
int32_t PackageWriter::WritePackage(const std::wstring& folder, const std::wstring& packageFile,
                                    const PackageRequest& request, const DeploymentOptions& options,
                                    bool removeTemporary) {
    TemporaryPackage temporary;
    if (const DWORD error = temporary.Create(folder); error != 0) {
        log.Write(kLogError, "cannot create a temporary file in " + ToUtf8(folder) + ", error " +
                                 std::to_string(error));
        return KQ_E_TARGET_UNWRITABLE;
    }
    std::string why;
    int32_t status = WriteEntries(temporary.Handle(), request, options, &why);
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
int32_t PackageWriter::WriteEntries(HANDLE file, const PackageRequest& request,
                                    const DeploymentOptions& options, std::string* why) {
    ZipOptions settings;
    settings.workers = ProcessorWorkers();
    settings.flushEvery = 16 << 20;
    ZipWriter writer(file, settings, kZipLimits);
    std::vector<ZipWriter::FileToAdd> files;
    for (const Vendor& vendor : vendors) {
        files.push_back({vendor.entry, vendor.path, vendor.pinned});
    }
    int32_t status = S_OK;
    const PackResult added = writer.AddFiles(files, [&](size_t i, const PackOutcome& outcome) {
        status = Record(vendors[i], outcome, why);
        return status == S_OK;
    });
    if (status != S_OK || added.status != ZipStatus::Ok) {
        return status != S_OK ? status : Failure(added, why);
    }
    const std::string manifest = ManifestText(Facts(request, options));
    if (writer.AddBytes("manifest.txt", manifest, catalog.Modified()) != ZipStatus::Ok) {
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
int32_t PackageWriter::Record(Vendor& vendor, const PackOutcome& outcome, std::string* why) {
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
            vendor.state = VendorState::Missing;
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
            vendor.state = VendorState::Mismatch;
            log.Write(kLogWarning, digests + "; left out of the package");
            return S_OK;
        }
        default:
            vendor.state = VendorState::Included;
            vendor.size = outcome.size;
            log.Write(kLogInfo, "added " + vendor.entry);
            return S_OK;
    }
}

// The status of a package that could not be written to its end.
int32_t PackageWriter::Failure(const PackResult& result, std::string* why) const {
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

// What the manifest says: the request, and of each item its patch and what became of its file.
ManifestFacts PackageWriter::Facts(const PackageRequest& request,
                                   const DeploymentOptions& options) const {
    auto text = [](const wchar_t* value) { return ToUtf8(value != nullptr ? value : L""); };
    ManifestFacts facts{text(request.source),
                        text(options.deploymentLog),
                        options.deploymentLogLevel,
                        text(options.eventsHandlerDll),
                        options.flags,
                        ToUtf8(log.Path()),
                        log.Failure(),
                        {}};
    for (uint32_t i = 0; i < request.count; ++i) {
        ManifestItem item;
        item.key = KeyOf(request.items[i].id, request.items[i].languageId);
        item.index = request.items[i].index;
        if (const CatalogPatch* patch = catalog.Find(item.key); vendorOfItem[i] >= 0) {
            const Vendor& vendor = vendors[static_cast<size_t>(vendorOfItem[i])];
            item.inCatalog = true;
            item.vendorFile = ToUtf8(Wide(patch->vendorFile));
            item.title = patch->title;
            item.state = vendor.state.value_or(VendorState::Missing);
            item.size = vendor.size;
            item.sha256 = item.state == VendorState::Included ? vendor.pinned : std::nullopt;
        }
        facts.items.push_back(std::move(item));
    }
    return facts;
}
