#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Catalog.h"
#include "OpenedFile.h"
#include "PackItem.h"
#include "PackagerInterface.h"
#include "WinResources.h"

// The vendor files of one request, each opened once and judged by what was opened, not by the
// name that led there: whoever can write the current folder can make a name reach anything.
// - A file whose final path does not lie below the current folder's (a link in the way) is
//   not packaged: Outside.
// - Lines that reach one file by any spelling or link (the same identity) are one vendor
//   file: read once, packaged once, under the first line's name; a pin on any of its lines
//   holds for all of them.
// The handles stay open until the object goes, so what is judged is what is read.
class VendorFiles {
  public:
    // A vendor file and what became of it.
    struct Vendor {
        std::string entry;  // its entry name in the package (the first line's)
        std::wstring path;  // as the first line names it
        int line = 0;       // that line of the catalog
        bool requested = false;
        std::optional<Sha256Digest> pinned;
        UniqueFile file;  // open, inside the current folder, and this file's holder
        int heldBy = -1;  // another vendor reached the same file and holds it
        // Known once judged for a file that was not opened (OpenFailed) or lies outside the
        // current folder (Outside), and once read for the others.
        std::optional<PackOutcome> outcome;
    };

    // Groups the request's items by entry name (as Windows compares names): two patches may
    // share one vendor file. `requested` marks the vendor of the patch the library was
    // initialised for.
    void Collect(const PatchCatalog& catalog, const PackageRequest& request,
                 const std::optional<PatchKey>& requested);

    // Opens every vendor file and judges it. False when the package cannot be judged at all:
    // the current folder has no final path (`*error`), or two lines that reach one file pin
    // different digests (`*conflict` says which lines; `*error` is 0).
    bool Open(DWORD* error, std::string* conflict);

    std::vector<Vendor>& All() { return vendors; }
    const std::vector<Vendor>& All() const { return vendors; }
    // The vendor of request item `item`, following a shared file to its holder; null for an
    // item the catalog does not list.
    const Vendor* OfItem(size_t item) const;
    // Whether item `item`'s file is packaged under another line's entry name.
    bool SharesEntry(size_t item) const;

  private:
    bool Judge(size_t index, const std::wstring& root, std::string* conflict);
    bool HoldBy(size_t index, size_t holderIndex, std::string* conflict);

    std::vector<Vendor> vendors;
    std::vector<int> vendorOfItem;              // of each request item, its vendor, or -1
    std::map<FileIdentity, size_t> byIdentity;  // the vendor that holds each file opened
};

// The key of an item or patch of the interface.
PatchKey KeyOf(const GUID& id, uint16_t languageId);
