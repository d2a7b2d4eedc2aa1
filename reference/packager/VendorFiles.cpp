#include "VendorFiles.h"

#include <map>

#include "GuidText.h"
#include "NameFold.h"
#include "Text.h"

PatchKey KeyOf(const GUID& id, uint16_t languageId) {
    return PatchKey{ToPatchGuid(id), languageId};
}

void VendorFiles::Collect(const PatchCatalog& catalog, const PackageRequest& request,
                          const std::optional<PatchKey>& requested) {
    std::map<std::u16string, size_t> byEntry;  // entry names as Windows compares them
    for (uint32_t i = 0; i < request.count; ++i) {
        const PatchKey key = KeyOf(request.items[i].id, request.items[i].languageId);
        const CatalogPatch* patch = catalog.Find(key);
        if (patch == nullptr) {
            vendorOfItem.push_back(-1);
            continue;
        }
        const auto [at, added] = byEntry.emplace(FileNameKey(patch->entryName), vendors.size());
        if (added) {
            Vendor vendor;
            vendor.entry = patch->entryName;
            vendor.path.assign(patch->vendorFile.begin(), patch->vendorFile.end());
            vendor.line = patch->line;
            vendor.pinned = catalog.PinOf(patch->entryName);
            vendors.push_back(std::move(vendor));
        }
        vendors[at->second].requested |= requested && *requested == key;
        vendorOfItem.push_back(static_cast<int>(at->second));
    }
}

bool VendorFiles::Open(DWORD* error, std::string* conflict) {
    *error = 0;
    if (vendors.empty()) {
        return true;
    }
    const QueryAnswer root = FinalFolderPath(L".");
    if (!root.succeeded) {
        *error = root.error != 0 ? root.error : ERROR_PATH_NOT_FOUND;
        return false;
    }
    for (size_t i = 0; i < vendors.size(); ++i) {
        if (!Judge(i, root.text, conflict)) {
            return false;
        }
    }
    return true;
}

// Opens vendor `index` and judges the handle: where it lies, and whether an earlier vendor
// holds the same file.
bool VendorFiles::Judge(size_t index, const std::wstring& root, std::string* conflict) {
    Vendor& vendor = vendors[index];
    vendor.file.Reset(CreateFileW(vendor.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!vendor.file) {
        vendor.outcome = PackOutcome::NotOpened(GetLastError());
        return true;
    }
    const QueryAnswer final = FinalPathOf(vendor.file.Get());
    HandleFacts facts;
    DWORD error = 0;
    if (!final.succeeded || !LiesUnder(final.text, root)) {
        vendor.outcome =
            PackOutcome::OutsideAt(final.succeeded ? ToUtf8(final.text) : "(no final path)");
        vendor.file.Reset();
        return true;
    }
    if (!FactsOf(vendor.file.Get(), &facts, &error)) {
        vendor.outcome = PackOutcome::NotOpened(error);
        vendor.file.Reset();
        return true;
    }
    const auto [held, first] = byIdentity.emplace(facts.identity, index);
    return first || HoldBy(index, held->second, conflict);
}

// Vendor `index` reached the file vendor `holder` holds: one file, read once, under the
// holder's name, with either line's pin.
bool VendorFiles::HoldBy(size_t index, size_t holderIndex, std::string* conflict) {
    Vendor& vendor = vendors[index];
    Vendor& holder = vendors[holderIndex];
    if (holder.pinned && vendor.pinned && *holder.pinned != *vendor.pinned) {
        *conflict = "lines " + std::to_string(holder.line) + " and " + std::to_string(vendor.line) +
                    " reach one file (" + holder.entry + ", " + vendor.entry +
                    ") and pin different sha256 digests";
        return false;
    }
    holder.pinned = holder.pinned ? holder.pinned : vendor.pinned;
    holder.requested |= vendor.requested;
    vendor.heldBy = static_cast<int>(holderIndex);
    vendor.file.Reset();
    return true;
}

const VendorFiles::Vendor* VendorFiles::OfItem(size_t item) const {
    if (vendorOfItem[item] < 0) {
        return nullptr;
    }
    const Vendor* vendor = &vendors[static_cast<size_t>(vendorOfItem[item])];
    return vendor->heldBy >= 0 ? &vendors[static_cast<size_t>(vendor->heldBy)] : vendor;
}

bool VendorFiles::SharesEntry(size_t item) const {
    return vendorOfItem[item] >= 0 && vendors[static_cast<size_t>(vendorOfItem[item])].heldBy >= 0;
}
