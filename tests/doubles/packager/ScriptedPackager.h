#pragma once

// A scriptable, recording IPackager: the test double behind the in-process packaging tests
// and the recording KQPackager.dll.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "PackagerInterface.h"

struct PackagerScript {
    int32_t createStatus = 0;
    bool createFaults = false;       // CreatePackager raises an access violation
    bool createReturnsNull = false;  // CreatePackager succeeds without an object
    int32_t initializeStatus = 0;
    int32_t patchesStatus = 0;
    int32_t createPackageStatus = 0;
    std::vector<std::pair<uint32_t, int32_t>> vendorStatus;  // index -> status, default 0

    struct Patch {
        GUID id;
        uint16_t languageId;
        std::wstring vendorFile;
        bool nullVendorFile = false;
        bool unreadableVendorFile = false;  // a non-null pointer to nothing readable
    };
    std::vector<Patch> patches;
    bool nullPatchArray = false;
    int64_t countOverride = -1;              // the count reported, whatever the array holds
    bool writePackage = true;                // CreatePackage writes a file at the package path
    std::vector<std::wstring> watchedFiles;  // existence recorded at Initialize
    std::string faultIn;                     // a method that raises an access violation when called
    // How that method meets the fault: "unhandled" (it leaves it to the caller), "probe" (the
    // platform catches it inside IsBadReadPtr), "repaired" (its own frame handler repairs it)
    // or "declined" (its own frame handler declines it; Release then records whether the
    // exception chain is whole and how often the handler was unwound).
    std::string faultKind = "unhandled";
    // A method that, when called, records "<method> waiting" and never returns: a library
    // hung inside a call, for the tests that kill the run there.
    std::string waitIn;
    // The current folder the library moves the process to in its second GetVendorPatchFile.
    std::wstring folderAtSecondLookup;

    // Reads "key=value" lines (UTF-8); see the recording library's source for the keys.
    static PackagerScript Parse(const std::string& text);
};

// Text forms used in the record.
std::string GuidText(const GUID& guid);
std::string RecordedText(const wchar_t* text);  // UTF-8; "(null)" for a null pointer

class ScriptedPackager : public IPackager {
  public:
    // `record` receives one line per call or field, in order.
    ScriptedPackager(PackagerScript script, std::function<void(const std::string&)> record);
    virtual ~ScriptedPackager() = default;

    HRESULT __stdcall QueryInterface(const IID& iid, void** object) override;
    ULONG __stdcall AddRef() override;
    ULONG __stdcall Release() override;
    int32_t __stdcall Initialize(const PackagerInitInfo* info) override;
    int32_t __stdcall GetAvailablePatches(PatchList* list) override;
    int32_t __stdcall Reserved5() override;
    int32_t __stdcall Reserved6() override;
    int32_t __stdcall GetVendorPatchFile(const PatchInfo* patch, VendorFileInfo* file) override;
    int32_t __stdcall Reserved8() override;
    int32_t __stdcall Reserved9() override;
    int32_t __stdcall CreatePackage(const PackageRequest* request, const wchar_t* packageFile,
                                    const DeploymentOptions* options) override;

    // CreatePackager as the script says; records the call.
    static HRESULT Create(const PackagerScript& script,
                          std::function<void(const std::string&)> record, const IID* iid,
                          IPackager** packager);

  private:
    PackagerScript script;
    std::function<void(const std::string&)> record;
    std::vector<PatchInfo> listed;
    // Script index of each (GUID, language), so that lookups stay cheap for large lists.
    std::map<std::pair<std::string, uint16_t>, uint32_t> indexOf;
    LONG references = 1;
    int lookups = 0;
};
