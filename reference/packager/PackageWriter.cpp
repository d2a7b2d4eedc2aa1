#include "PackageWriter.h"

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

bool IsMissing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool Is(const VendorFiles::Vendor& vendor, PackOutcome::Kind kind) {
    return vendor.outcome && vendor.outcome->kind == kind;
}

}  // namespace

PackageWriter::PackageWriter(const PatchCatalog& given, PackagerLog& packagerLog,
                             const std::optional<PatchKey>& requestedPatch)
    : catalog(given), log(packagerLog), requested(requestedPatch) {}

int32_t PackageWriter::Write(const PackageRequest& request, const std::wstring& packageFile,
                             const DeploymentOptions& options) {
    const bool removeTemporary = (options.flags & kRemoveTempFilesFlag) != 0;
    const std::wstring folder = SplitPath(packageFile).folder;
    // Runs that were killed left their temporary packages; a run that keeps its own for
    // inspection leaves everyone's alone.
    if (removeTemporary) {
        if (const int removed = TemporaryPackage::SweepStale(folder); removed > 0) {
            log.Write(kLogInfo, "removed " + std::to_string(removed) +
                                    " temporary packages of runs that ended early");
        }
    }
    files.Collect(catalog, request, requested);
    if (const int32_t status = OpenVendors(); status != S_OK) {
        return status;
    }
    if (const int32_t status = RequireRequested(request); status != S_OK) {
        return status;
    }
    const int32_t status = WritePackage(folder, packageFile, request, options, removeTemporary);
    if (status == S_OK) {
        size_t included = 0;
        for (const Vendor& vendor : files.All()) {
            included += Is(vendor, PackOutcome::Kind::Included) ? 1 : 0;
        }
        log.Write(kLogInfo, "package written: " + ToUtf8(packageFile) + " (" +
                                std::to_string(included) + " vendor files)");
    }
    return status;
}

// Each vendor file opened once and judged: a catalog whose lines reach one file and pin it
// to two digests holds two truths about one set of bytes.
int32_t PackageWriter::OpenVendors() {
    DWORD error = 0;
    std::string conflict;
    if (files.Open(&error, &conflict)) {
        return S_OK;
    }
    if (error != 0) {
        log.Write(kLogError, "cannot tell where the current folder is, error " +
                                 std::to_string(error) + "; no package written");
        return KQ_E_VENDOR_FILE_UNREADABLE;
    }
    log.Write(kLogError, "the catalog is corrupt: " + conflict + "; no package written");
    return KQ_E_CATALOG_CORRUPT;
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
    const Vendor* vendor = nullptr;
    for (const Vendor& candidate : files.All()) {
        vendor = candidate.requested && candidate.heldBy < 0 ? &candidate : vendor;
    }
    std::string why;
    if (!listedInRequest) {
        why = "the request does not include the requested patch " + name;
    } else if (patch == nullptr || vendor == nullptr) {
        why = "the requested patch " + name + " is not in the catalog";
    } else if (Is(*vendor, PackOutcome::Kind::Outside)) {
        log.Write(kLogError, "the vendor file " + ToUtf8(Wide(patch->vendorFile)) +
                                 " of the requested patch " + name +
                                 " lies outside the current folder, at " + vendor->outcome->where +
                                 "; no package written");
        return KQ_E_REQUESTED_PATCH_OUTSIDE;
    } else if (Is(*vendor, PackOutcome::Kind::OpenFailed)) {
        const DWORD error = vendor->outcome->error;
        why =
            "the vendor file " + ToUtf8(Wide(patch->vendorFile)) + " of the requested patch " +
            name +
            (IsMissing(error) ? " is missing" : " cannot be read, error " + std::to_string(error));
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
        if (const DWORD renamed = temporary.RenameOver(packageFile); renamed != 0) {
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
// known only once the file has been read. The manifest is written and the package flushed to
// disk by Finish, whose failure, as any flush's, fails the package.
int32_t PackageWriter::WriteEntries(HANDLE file, const PackageRequest& request,
                                    const DeploymentOptions& options, std::string* why) {
    if (const int32_t status = Unopened(why); status != S_OK) {
        return status;
    }
    ZipOptions settings;
    settings.workers = ProcessorWorkers();
    settings.flushEvery = 16 << 20;
    ZipWriter writer(file, settings, kZipLimits);
    std::vector<PackItem> toAdd;
    std::vector<size_t> packed;  // the vendor of each file added
    for (size_t i = 0; i < files.All().size(); ++i) {
        const Vendor& vendor = files.All()[i];
        if (vendor.file) {
            toAdd.push_back({vendor.entry, vendor.file.Get(), vendor.pinned});
            packed.push_back(i);
        }
    }
    int32_t status = S_OK;
    const PackResult added = writer.AddFiles(toAdd, [&](size_t i, const PackOutcome& outcome) {
        status = Record(files.All()[packed[i]], outcome, why);
        return status == S_OK;
    });
    if (status != S_OK || added.status != ZipStatus::Ok) {
        return status != S_OK ? status : Failure(added, packed, why);
    }
    const std::string manifest = ManifestText(Facts(request, options));
    if (writer.AddBytes(std::string(kManifestEntryName), manifest, catalog.Modified()) !=
        ZipStatus::Ok) {
        *why = "cannot write the manifest, error " + std::to_string(writer.SystemError());
        return KQ_E_TARGET_UNWRITABLE;
    }
    if (writer.Finish() != ZipStatus::Ok) {
        *why = "cannot finish the package, error " + std::to_string(writer.SystemError());
        return KQ_E_TARGET_UNWRITABLE;
    }
    return S_OK;
}

// What became of the vendor files that were not opened for packaging: missing ones and those
// outside the current folder are left out; one that exists but cannot be read fails the
// package, as a read that fails would.
int32_t PackageWriter::Unopened(std::string* why) {
    for (Vendor& vendor : files.All()) {
        if (Is(vendor, PackOutcome::Kind::Outside)) {
            log.Write(kLogWarning, "the vendor file " + ToUtf8(vendor.path) +
                                       " lies outside the current folder, at " +
                                       vendor.outcome->where + "; left out of the package");
        } else if (Is(vendor, PackOutcome::Kind::OpenFailed)) {
            const PackOutcome outcome = *vendor.outcome;
            if (const int32_t status = Record(vendor, outcome, why); status != S_OK) {
                return status;
            }
        }
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
            if (!IsMissing(error) || vendor.requested) {
                *why = "cannot read " + name + ", error " + std::to_string(error);
                return vendor.requested ? KQ_E_REQUESTED_PATCH_MISSING
                                        : KQ_E_VENDOR_FILE_UNREADABLE;
            }
            vendor.outcome = outcome;
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
            vendor.outcome = outcome;
            log.Write(kLogWarning, digests + "; left out of the package");
            return S_OK;
        }
        default:
            vendor.outcome = outcome;
            log.Write(kLogInfo, "added " + vendor.entry);
            return S_OK;
    }
}

// The status of a package that could not be written to its end.
int32_t PackageWriter::Failure(const PackResult& result, const std::vector<size_t>& packed,
                               std::string* why) const {
    // A failure before the first file (memory for the pipeline itself) names no file.
    const Vendor* vendor =
        result.file < packed.size() ? &files.All()[packed[result.file]] : nullptr;
    const std::string entry = vendor != nullptr ? vendor->entry : "the package";
    const std::string error = ", error " + std::to_string(result.error);
    switch (result.status) {
        case ZipStatus::ReadFailed:
            *why = "cannot read " + (vendor != nullptr ? ToUtf8(vendor->path) : entry) + error;
            return vendor != nullptr && vendor->requested ? KQ_E_REQUESTED_PATCH_MISSING
                                                          : KQ_E_VENDOR_FILE_UNREADABLE;
        case ZipStatus::OutOfMemory:
            *why = "out of memory while writing " + entry;
            return E_OUTOFMEMORY;
        default:
            *why = "cannot write " + entry + error;
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
        if (const Vendor* vendor = files.OfItem(i); vendor != nullptr) {
            const CatalogPatch* patch = catalog.Find(item.key);
            item.inCatalog = true;
            item.vendorFile = ToUtf8(Wide(patch->vendorFile));
            item.title = patch->title;
            // Every vendor file has its outcome once the package is written to here.
            item.outcome = vendor->outcome.value_or(PackOutcome::NotOpened(0));
            const bool included = Is(*vendor, PackOutcome::Kind::Included);
            item.entry = included && files.SharesEntry(i) ? vendor->entry : "";
        }
        facts.items.push_back(std::move(item));
    }
    return facts;
}
