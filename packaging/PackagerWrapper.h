#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "PackagerInterface.h"
#include "PackagerParams.h"
#include "PackagingPlatform.h"
#include "WinResources.h"

// Everything one packaging run needs: its own copy of the parameters, the paths derived
// from them and the one reference to the library's packager object, released when the
// wrapper is destroyed. Every message goes out under "Deployment Packager Wrapper".
class PackagerWrapper {
  public:
    PackagerWrapper(const PackagerParams& params, PackagingPlatform& platform);
    virtual ~PackagerWrapper();
    PackagerWrapper(const PackagerWrapper&) = delete;
    PackagerWrapper& operator=(const PackagerWrapper&) = delete;

    // Copies the library from `packagerDir` and extends Path when asked, checks the catalog
    // and the output folder, places relative names under the output folder, checks their
    // folders and deletes old logs when asked. 0 when ready, 1 on any failure.
    int32_t PrepareEnvironment();

    // Binds the library, creates the packager object and initialises it. 0 on success; 1
    // when the library cannot be bound (or the call faults); otherwise the library's status.
    int32_t InitPackager();

    // The whole build: PrepareEnvironment, InitPackager, the patch list, the vendor files,
    // CreatePackage. 0 when the package was created and is where it was asked for; 1 for a
    // failure the wrapper detects; otherwise the failing library call's status.
    int32_t BuildPackage();

  private:
    // The steps of PrepareEnvironment, in their order.
    int32_t CopyPackagerLibrary();
    int32_t ExtendSearchPath();
    int32_t CheckCatalogAndOutput();
    void PlaceRelativeNames();
    int32_t CheckFileFolders();
    void DeleteOldLogs();

    // The first step of InitPackager: binding the library and creating the object.
    int32_t CreatePackagerObject();

    // The steps of BuildPackage after InitPackager, in their order.
    int32_t ReadAvailablePatches(std::vector<PatchInfo>* patches);
    int32_t CopyPatchList(const PatchList& list, std::vector<PatchInfo>* patches);
    int32_t RequireRequestedPatch(const std::vector<PatchInfo>& patches);
    int32_t ReportVendorFiles(const std::vector<PatchInfo>& patches);
    void ReportVendorFile(const std::wstring& folder, const wchar_t* fileName);
    int32_t CreatePackageOf(const std::vector<PatchInfo>& patches);
    DeploymentOptions ChooseDeploymentOptions() const;

    PackagingPlatform& platform;

    UniqueComReference<IPackager> packager;
    PatchInfo patchInfo{};
    GUID patchId{};
    uint16_t languageId = 0;
    std::wstring catalogDir;
    std::wstring outputDir;
    std::wstring catalogFile;
    std::wstring eventsHandlerDll;
    std::wstring packagerLog;
    int32_t packagerLogLevel = 0;
    bool overwritePackagerLog = false;
    std::wstring deploymentLog;
    int32_t deploymentLogLevel = 0;
    bool overwriteDeploymentLog = false;
    std::wstring runtimeDir;
    std::wstring packagerDir;
    std::wstring packageFile;
    bool preserveTempFiles = false;
};

// Runs one build for the parameters on `platform` and returns its result (the process exit
// code).
int32_t RunPackager(const PackagerParams& params, PackagingPlatform& platform);
