#pragma once

// The text of the patch catalog, "patches.csv", without any platform header: UTF-8 (an
// optional BOM), CR LF or LF line ends, the header line "guid,language,vendor_file,title"
// first and one patch per line after it:
//   CA25DBE4-81D5-4467-8D0B-D4F05B31A942,0x0409,vendor\kb0001-en.msp,Title text
// A header whose fourth field is "sha256" ("guid,language,vendor_file,sha256,title"; blanks
// around the field and its letter case do not matter) says that every line carries the
// vendor file's SHA-256 digest before the title:
//   CA25DBE4-81D5-4467-8D0B-D4F05B31A942,0x0409,vendor\kb0001-en.msp,<64 hex digits>,Title
// - guid: 8-4-4-4-12 hex digits, any case, optionally between braces;
// - language: decimal without a leading zero, or "0x" (or "0X") and hex digits; 1 to 0xFFFF;
//   nothing else (no sign, no blanks);
// - vendor_file: not empty, valid UTF-8, and a name that stays in the current folder
//   (StaysInCurrentFolder);
// - sha256 (with that header only): 64 hexadecimal digits in either case, or empty for a
//   file that is not pinned;
// - title: the rest of the line, commas included; may be empty.
// Only the first line may be the header (a line that begins with "guid,"); blank lines (only
// blanks and tabs) are skipped anywhere; any other line that does not have this form makes
// the catalog corrupt, and so does a second line for a GUID and language already listed, and
// a line that pins another digest for a vendor file an earlier line pinned (one file: one
// package entry name, PackageEntryName, compared as Windows compares names: FileNameKey), and
// a vendor file whose entry name is the manifest's in any such spelling.

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <optional>
#include <vector>

#include "DigestText.h"
#include "GuidText.h"
#include "Text.h"

// The package's own entry, which no vendor file may take.
inline constexpr std::string_view kManifestEntryName = "manifest.txt";

// A patch as the catalog and the packager interface name it: its GUID and its language.
struct PatchKey {
    PatchGuid id;
    uint16_t languageId = 0;

    bool operator==(const PatchKey& other) const {
        return std::memcmp(&id, &other.id, sizeof(id)) == 0 && languageId == other.languageId;
    }
    bool operator<(const PatchKey& other) const {
        const int order = std::memcmp(&id, &other.id, sizeof(id));
        return order != 0 ? order < 0 : languageId < other.languageId;
    }
    // "GUID 0xLLLL", as logs and manifests show it.
    std::string Text() const;
};

// One patch of the catalog.
struct CatalogPatch {
    PatchKey key;
    std::u16string vendorFile;           // relative to the current folder
    std::string entryName;               // its name in the package (PackageEntryName)
    std::optional<Sha256Digest> sha256;  // pinned, or not
    std::string title;
    int line = 0;  // its line number in the text, from 1
};

// The patches of a catalog, in its order, with the indexes that refuse a repeat while it is
// parsed and that look patches up afterwards: built once, by Admit.
class CatalogTable {
  public:
    // Appends `patch`; false with `detail` ("line N: ...") when it repeats what an earlier line
    // said (the format above), and then the table is as it was.
    bool Admit(CatalogPatch patch, std::string* detail);

    const std::vector<CatalogPatch>& Patches() const { return patches; }
    // The patch of `key`; null when no line lists it.
    const CatalogPatch* Find(const PatchKey& key) const;
    // The digest a line pins for the vendor file of entry name `entryName` (compared as
    // Windows compares names, FileNameKey), if any.
    std::optional<Sha256Digest> PinOf(const std::string& entryName) const;

  private:
    std::vector<CatalogPatch> patches;
    std::map<PatchKey, size_t> byKey;       // a request lists every patch: no scan per item
    std::map<std::u16string, size_t> pins;  // the first line that pins each file, by its key
};

// Parses the whole text into `table`; false with `detail` ("line N: ...") at the first malformed
// line, and `table` empty.
bool ParseCatalogText(std::string_view text, CatalogTable* table, std::string* detail);

// True when `name`, taken relative to the current folder, names something inside it: not
// empty, no character below U+0020, not rooted, no drive or stream (no colon), no ".." step
// that climbs above the folder, no step of only dots and blanks besides ".", and no DOS
// device name (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM1 to COM9, LPT1 to LPT9, and COM or
// LPT with a superscript 1, 2 or 3), whatever its letter case, extension or trailing blanks.
bool StaysInCurrentFolder(std::u16string_view name);

// The name a vendor file gets inside the package, from its catalog name (UTF-8): relative,
// with forward slashes, "." and empty steps dropped and ".." steps resolved, so that two
// spellings of one file get one name; "unnamed" when nothing is left.
std::string PackageEntryName(std::string_view vendorFile);

// ASCII letters in lower case, every other byte as it is: how entry names are compared.
std::string FoldAsciiCase(std::string text);

// A line's language, as the format above has it (its GUID: ParsePatchGuid).
bool ParseLanguage(std::string_view text, uint16_t* languageId);
