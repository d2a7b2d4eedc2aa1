#pragma once

// The patch catalog "windowspatchdata.zip": one UTF-8 CSV entry, "patches.csv", with the
// header line "guid,language,vendor_file,title" and one patch per line:
//   CA25DBE4-81D5-4467-8D0B-D4F05B31A942,0x0409,vendor\kb0001-en.msp,Title text
// The GUID may carry braces; the language is decimal or 0x-hex; the title is the rest of the
// line (commas included) and may be empty. Blank lines are ignored.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "GuidText.h"

struct CatalogPatch {
    GUID id;
    uint16_t languageId;
    std::wstring vendorFile;  // relative to the current directory
    std::string title;
};

enum class CatalogStatus { Ok, NotFound, Corrupt, TooLarge };

// Reads the catalog archive at `path`. `detail` receives a description of a failure.
CatalogStatus ReadCatalog(const std::wstring& path, std::vector<CatalogPatch>* patches,
                          std::string* detail);

// True when `name`, taken relative to the current folder, names something inside it: not
// rooted, no drive or stream (no colon), no ".." step that climbs above the folder, no step
// of only dots and blanks besides ".", and no DOS device name (CON, NUL, COM1, ...).
bool StaysInCurrentFolder(const std::wstring& name);

// Parses the CSV text of a catalog; false with `detail` on the first malformed line,
// a vendor file name that leaves the current folder included.
bool ParseCatalogText(const std::string& text, std::vector<CatalogPatch>* patches,
                      std::string* detail);
