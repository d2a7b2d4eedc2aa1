#pragma once

// The package's "manifest.txt": a pure function of what the package holds and was asked to
// hold, without any platform header (fuzzed natively). UTF-8, CR LF:
//   package-format: 2
//   source: <source>
//   deployment-log: <path>
//   deployment-log-level: <level>
//   events-handler: <path>
//   flags: 0x<4 or more hex digits>
//   [packager-log: <path> not written, error <code>]
//   items: <count>
//   item <i>: <GUID> 0x<language> index <index> ...
// where each item line goes on with " (not in the catalog)", or " vendor-file <name>" and what
// became of the file: " included size <bytes>" (with " sha256 <digest> verified" when the
// catalog pins it), " missing" or " mismatch"; then " title <title>" when there is one.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "CatalogText.h"

// What became of an item's vendor file.
enum class VendorState { Included, Missing, Mismatch };

struct ManifestItem {
    PatchKey key;
    uint32_t index = 0;
    bool inCatalog = false;
    std::string vendorFile;  // its catalog name
    std::string title;
    VendorState state = VendorState::Missing;
    uint64_t size = 0;                   // when included
    std::optional<Sha256Digest> sha256;  // when included and pinned
};

struct ManifestFacts {
    std::string source;
    std::string deploymentLog;
    int32_t deploymentLogLevel = 0;
    std::string eventsHandler;
    uint32_t flags = 0;
    // The packager log, when it could not be written up to the manifest.
    std::string unwrittenLog;
    uint32_t unwrittenLogError = 0;
    std::vector<ManifestItem> items;
};

std::string ManifestText(const ManifestFacts& facts);
