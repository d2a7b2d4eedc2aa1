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
// became of the file: " included" (with " entry <name>" when the file is in the package under
// another line's name: two lines reached one file), " size <bytes>" (with " sha256 <digest>
// verified" when the catalog pins it), " missing", " mismatch" or " outside"; then
// " title <title>" when there is one.
//
// Every text field goes through OneLineText, so that no field can end its line or start
// another for any reader that splits lines at CR, LF or CR LF.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CatalogText.h"
#include "PackItem.h"

struct ManifestItem {
    PatchKey key;
    uint32_t index = 0;
    bool inCatalog = false;
    std::string vendorFile;  // its catalog name
    std::string title;
    std::string entry;  // when included under another line's entry name
    // What became of its file: a file not opened is "missing" here (any other failure to open
    // fails the package before a manifest is written); the size and the digest are told of an
    // included file only.
    PackOutcome outcome;
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

// `text` with every byte below 0x20, 0x7F, "%" and the UTF-8 forms of U+0080 to U+009F, U+2028
// and U+2029 (line ends to some readers) written as "%XX", the byte in two upper-case hex
// digits, as in a URL: "%0D" for CR, "%25" for "%". Any other byte stays as it is, so a field
// without those reads as itself, and decoding every "%XX" gives the text back exactly.
std::string OneLineText(std::string_view text);
