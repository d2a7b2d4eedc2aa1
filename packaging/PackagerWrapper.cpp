#include "PackagerWrapper.h"

#include <cstring>
#include <cwchar>
#include <vector>

#include "Util.h"
#include "WrapperSupport.h"

PackagerWrapper::PackagerWrapper(const PackagerParams& params, PackagingPlatform& given)
    : platform(given),
      patchId(params.patchId),
      languageId(params.languageId),
      catalogDir(params.catalogDir),
      outputDir(params.outputDir),
      eventsHandlerDll(params.eventsHandlerDll),
      packagerLog(params.packagerLog),
      packagerLogLevel(params.packagerLogLevel),
      overwritePackagerLog(params.overwritePackagerLog),
      deploymentLog(params.deploymentLog),
      deploymentLogLevel(params.deploymentLogLevel),
      overwriteDeploymentLog(params.overwriteDeploymentLog),
      runtimeDir(params.runtimeDir),
      packagerDir(params.packagerDir),
      packageFile(params.packageFile),
      preserveTempFiles(params.preserveTempFiles) {}

PackagerWrapper::~PackagerWrapper() {
    catalogDir.clear();
    outputDir.clear();
    catalogFile.clear();
    eventsHandlerDll.clear();
    packagerLog.clear();
    deploymentLog.clear();
    runtimeDir.clear();
    packagerDir.clear();
    packageFile.clear();
    // The one reference is given up through the guard: Release is the library's code too.
    if (IPackager* object = packager.Detach()) {
        int32_t ignored = 0;
        CallLibrary(
            L"Release", [object] { return static_cast<int32_t>(object->Release()); }, &ignored);
    }
}

int32_t PackagerWrapper::PrepareEnvironment() {
    if (const int32_t result = CopyPackagerLibrary(); result != 0) {
        return result;
    }
    if (const int32_t result = ExtendSearchPath(); result != 0) {
        return result;
    }
    if (const int32_t result = CheckCatalogAndOutput(); result != 0) {
        return result;
    }
    PlaceRelativeNames();
    if (const int32_t result = CheckFileFolders(); result != 0) {
        return result;
    }
    DeleteOldLogs();
    return 0;
}

int32_t PackagerWrapper::CopyPackagerLibrary() {
    if (packagerDir.empty()) {
        return 0;
    }
    const std::wstring exeDir = platform.ExeDir();
    if (exeDir.empty()) {
        const DWORD code = GetLastError();
        Report(kLevelError, L"PackagerWrapper: cannot resolve module path. Err = %d",
               static_cast<int>(code));
        return 1;
    }
    const std::wstring source = packagerDir + L"\\KQPackager.dll";
    const std::wstring target = exeDir + L"\\KQPackager.dll";
    Report(kLevelInfo, L"copy: %s %s", source.c_str(), target.c_str());
    if (!FileCopy(source.c_str(), target.c_str())) {
        const DWORD code = GetLastError();
        Report(kLevelError, L"PackagerWrapper: cannot copy KQPackager.dll. Err = %d",
               static_cast<int>(code));
        return 1;
    }
    return 0;
}

int32_t PackagerWrapper::ExtendSearchPath() {
    if (runtimeDir.empty()) {
        return 0;
    }
    const std::wstring current = GetEnvVar(L"Path");
    const std::wstring entry = runtimeDir + L";";
    if (current.find(entry) != std::wstring::npos) {
        return 0;
    }
    const std::wstring extended = entry + current;
    Report(kLevelInfo, L"PATH: %s", extended.c_str());
    if (!SetEnvVar(L"Path", extended.c_str())) {
        const DWORD code = GetLastError();
        Report(kLevelError, L"PackagerWrapper: cannot set env.var. Err = %d",
               static_cast<int>(code));
        return 1;
    }
    return 0;
}

int32_t PackagerWrapper::CheckCatalogAndOutput() {
    catalogFile = catalogDir + L"\\windowspatchdata.zip";
    Report(kLevelInfo, L"Patch catalog input: %s", catalogFile.c_str());
    if (!PathExists(catalogFile.c_str())) {
        Report(kLevelError, L"Patch catalog file does not exist: %s", catalogFile.c_str());
        return 1;
    }
    if (outputDir.empty()) {
        outputDir = GetCurrentDirectoryPath();
    } else if (!PathExists(outputDir.c_str())) {
        Report(kLevelError, L"Output directory does not exist: %s", outputDir.c_str());
        return 1;
    }
    Report(kLevelInfo, L"Package output directory: %s", outputDir.c_str());
    return 0;
}

void PackagerWrapper::PlaceRelativeNames() {
    for (std::wstring* name : {&packagerLog, &deploymentLog, &packageFile, &eventsHandlerDll}) {
        if (!IsFullPath(name->c_str())) {
            *name = CanonicalizeFileSpec((outputDir + L"\\" + *name).c_str());
        }
    }
}

int32_t PackagerWrapper::CheckFileFolders() {
    for (const std::wstring* file : {&packagerLog, &deploymentLog, &packageFile}) {
        if (!IsValidPathForFile(file->c_str())) {
            Report(kLevelError, L"Folder for file does not exist. File = %s", file->c_str());
            return 1;
        }
    }
    return 0;
}

// A log that cannot be deleted is reported and the run goes on.
void PackagerWrapper::DeleteOldLogs() {
    const std::pair<bool, const std::wstring*> oldLogs[] = {
        {overwritePackagerLog, &packagerLog}, {overwriteDeploymentLog, &deploymentLog}};
    for (const auto& [overwrite, log] : oldLogs) {
        if (overwrite && !log->empty() && PathExists(log->c_str()) &&
            !DeleteFilePath(log->c_str())) {
            const DWORD code = GetLastError();
            Report(kLevelError, L"DeleteFile failed. File = %s, Err = %d", log->c_str(),
                   static_cast<int>(code));
        }
    }
}

int32_t PackagerWrapper::InitPackager() {
    if (const int32_t result = CreatePackagerObject(); result != 0) {
        return result;
    }
    patchInfo = PatchInfo{patchId, languageId, 0};
    PackagerInitInfo info{};
    info.packagerLogLevel = packagerLogLevel;
    info.packagerLog = NullWhenEmpty(packagerLog);
    info.catalogFile = NullWhenEmpty(catalogFile);
    info.patchId = patchId;
    info.patchCount = 1;
    info.patches = &patchInfo;
    return CheckedLibraryCall(L"Initialize", L"Unable to initialize packager due to error %d",
                              [&] { return packager.Get()->Initialize(&info); });
}

int32_t PackagerWrapper::CreatePackagerObject() {
    IPackager* created = nullptr;
    const CreateOutcome outcome = platform.CreatePackager(&created);
    if (!outcome.returned) {
        Report(kLevelError, L"InitPackager: cannot load KQPackager.dll; Err = %d",
               static_cast<int>(outcome.faultCode));
        return 1;
    }
    if (outcome.status < 0) {
        // A failed call hands out no reference, whatever it left in the out parameter.
        Report(kLevelError, L"Unable to load/construct packager due to error %d",
               static_cast<int>(outcome.status));
        return outcome.status;
    }
    if (created == nullptr) {
        Report(kLevelError, L"%s", L"InitPackager: CreatePackager succeeded without a packager");
        return 1;
    }
    packager.Reset(created);
    return 0;
}
