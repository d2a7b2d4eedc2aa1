#include "PackagerWrapper.h"

#include <cstring>
#include <cwchar>
#include <vector>

#include "Guard.h"
#include "Logger.h"
#include "Util.h"

namespace {

constexpr const wchar_t* kComponent = L"Deployment Packager Wrapper";

template <typename... Args>
void Report(int level, const wchar_t* format, Args... args) {
    LogReport(level, kComponent, format, args...);
}

const wchar_t* NullWhenEmpty(const std::wstring& text) {
    return text.empty() ? nullptr : text.c_str();
}

std::wstring RealExeDir() {
    return GetExeDir();
}

// Calls into the library under the fault guard. A fault would otherwise end the process
// with an unhandled exception (on Windows, a crash dialog that an unattended agent waits on);
// the library's state after it is unknown, so the build stops with result 1.
template <typename Call>
bool CallLibrary(const wchar_t* operation, Call call, int32_t* status) {
    auto invoke = [&] { *status = call(); };
    uint32_t code = 0;
    if (RunGuardedCall(invoke, &code)) {
        return true;
    }
    Report(kLevelError, L"%s: the packager library faulted. Err = %d", operation,
           static_cast<int>(code));
    return false;
}

bool SamePatch(const PatchInfo& entry, const GUID& id, uint16_t language) {
    return std::memcmp(&entry.id, &id, sizeof(GUID)) == 0 && entry.languageId == language;
}

}  // namespace

PackagingPlatform PackagingPlatform::Real() {
    return {&CreatePackagerFromLibrary, &RealExeDir};
}

PackagerWrapper::PackagerWrapper(const PackagerParams& params, const PackagingPlatform& given)
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
    const std::wstring exeDir = platform.exeDir();
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
    int32_t status = 0;
    if (!CallLibrary(
            L"Initialize", [&] { return packager.Get()->Initialize(&info); }, &status)) {
        return 1;
    }
    if (status != 0) {
        Report(kLevelError, L"Unable to initialize packager due to error %d",
               static_cast<int>(status));
        return status;
    }
    return 0;
}

int32_t PackagerWrapper::CreatePackagerObject() {
    IPackager* created = nullptr;
    const CreateOutcome outcome = platform.createPackager(&created);
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

int32_t PackagerWrapper::BuildPackage() {
    if (const int32_t result = PrepareEnvironment(); result != 0) {
        return result;
    }
    if (const int32_t result = InitPackager(); result != 0) {
        return result;
    }
    std::vector<PatchInfo> patches;
    if (const int32_t result = ReadAvailablePatches(&patches); result != 0) {
        return result;
    }
    if (const int32_t result = RequireRequestedPatch(patches); result != 0) {
        return result;
    }
    if (const int32_t result = ReportVendorFiles(patches); result != 0) {
        return result;
    }
    return CreatePackageOf(patches);
}

int32_t PackagerWrapper::ReadAvailablePatches(std::vector<PatchInfo>* patches) {
    PatchList list{0, nullptr};
    int32_t listed = 0;
    if (!CallLibrary(
            L"GetAvailablePatches", [&] { return packager.Get()->GetAvailablePatches(&list); },
            &listed)) {
        return 1;
    }
    if (listed != 0) {
        Report(kLevelError, L"Unable to get GetAvailablePatches due to error %d",
               static_cast<int>(listed));
        return listed;
    }
    if (list.count == 0) {
        Report(kLevelError, L"%s", L"Number of Available Patches is 0");
        return 1;
    }
    if (list.patches == nullptr) {
        Report(kLevelError, L"GetAvailablePatches listed %u patches without an array", list.count);
        return 1;
    }
    return CopyPatchList(list, patches);
}

// A count larger than the array the library handed out must end the build, not the process:
// the array is checked before it is read, and read under the guard.
int32_t PackagerWrapper::CopyPatchList(const PatchList& list, std::vector<PatchInfo>* patches) {
    if (!IsReadableMemory(list.patches, uint64_t{list.count} * sizeof(PatchInfo))) {
        Report(kLevelError, L"GetAvailablePatches listed %u patches that cannot be read. Err = %d",
               list.count, static_cast<int>(ERROR_NOACCESS));
        return 1;
    }
    patches->resize(list.count);
    auto copy = [&] {
        for (uint32_t i = 0; i < list.count; ++i) {
            (*patches)[i] = PatchInfo{list.patches[i].id, list.patches[i].languageId, 0};
        }
    };
    uint32_t fault = 0;
    if (!RunGuardedCall(copy, &fault)) {
        Report(kLevelError, L"GetAvailablePatches listed %u patches that cannot be read. Err = %d",
               list.count, static_cast<int>(fault));
        return 1;
    }
    return 0;
}

int32_t PackagerWrapper::RequireRequestedPatch(const std::vector<PatchInfo>& patches) {
    for (const PatchInfo& entry : patches) {
        if (SamePatch(entry, patchId, languageId)) {
            return 0;
        }
    }
    Report(kLevelError, L"%s", L"List of Available Patches does not contain given patch");
    return 1;
}

// Every listed patch, not only the requested one: where its vendor file is expected and
// whether it is there. Neither a failed lookup nor a missing file stops the build.
int32_t PackagerWrapper::ReportVendorFiles(const std::vector<PatchInfo>& patches) {
    std::wstring folder = GetCurrentDirectoryPath();
    if (folder.empty() || folder.back() != L'\\') {
        folder.push_back(L'\\');
    }
    for (const PatchInfo& entry : patches) {
        VendorFileInfo file{0, nullptr};
        int32_t status = 0;
        if (!CallLibrary(
                L"GetVendorPatchFile",
                [&] { return packager.Get()->GetVendorPatchFile(&entry, &file); }, &status)) {
            return 1;
        }
        if (status < 0) {
            Report(kLevelError, L"FAIL... %d", static_cast<int>(status));
            continue;
        }
        ReportVendorFile(folder, file.fileName);
    }
    return 0;
}

void PackagerWrapper::ReportVendorFile(const std::wstring& folder, const wchar_t* fileName) {
    // The name belongs to the library and may point anywhere: it is read under the guard.
    std::wstring name;
    auto readName = [&] {
        if (fileName != nullptr) {
            name.assign(fileName, std::wcslen(fileName));
        }
    };
    uint32_t fault = 0;
    if (!RunGuardedCall(readName, &fault)) {
        Report(kLevelError, L"GetVendorPatchFile named a file that cannot be read. Err = %d",
               static_cast<int>(fault));
        return;
    }
    // A library that names no file has not named one that exists: the folder itself must not
    // pass for it.
    const std::wstring path = folder + name;
    if (!name.empty() && PathExists(path.c_str())) {
        Report(kLevelInfo, L"Vendor patch file: %s", path.c_str());
    } else {
        Report(kLevelWarning, L"The vendor patch file '%s' does not exist.", path.c_str());
    }
}

int32_t PackagerWrapper::CreatePackageOf(const std::vector<PatchInfo>& patches) {
    std::vector<PackageItem> items(patches.size());
    for (size_t i = 0; i < patches.size(); ++i) {
        items[i] = PackageItem{};
        items[i].id = patches[i].id;
        items[i].languageId = patches[i].languageId;
        items[i].index = static_cast<uint32_t>(i);
    }
    PackageRequest request{};
    request.source = L"local";
    request.count = static_cast<uint32_t>(items.size());
    request.items = items.data();
    const DeploymentOptions options = ChooseDeploymentOptions();
    int32_t created = 0;
    if (!CallLibrary(
            L"CreatePackage",
            [&] { return packager.Get()->CreatePackage(&request, packageFile.c_str(), &options); },
            &created)) {
        return 1;
    }
    if (created != 0) {
        Report(kLevelError, L"Unable to create package due to error %d", static_cast<int>(created));
        return created;
    }
    if (!PathExists(packageFile.c_str())) {
        // The library claimed success, but the caller must never be told that a package exists
        // when it does not.
        Report(kLevelError, L"Package must be created but not found by path '%s'",
               packageFile.c_str());
        return 1;
    }
    return 0;
}

DeploymentOptions PackagerWrapper::ChooseDeploymentOptions() const {
    DeploymentOptions options{};
    if (preserveTempFiles) {
        Report(kLevelTrace, L"%s",
               L"Option to preserve temp files will be used for current deployment package.");
        options.flags = kPreserveTempFilesFlags;
    } else {
        Report(kLevelTrace, L"%s",
               L"Option to remove temp files will be used for current deployment package.");
        options.flags = kRemoveTempFilesFlags;
    }
    options.deploymentLogLevel = deploymentLogLevel;
    options.deploymentLog = NullWhenEmpty(deploymentLog);
    options.eventsHandlerDll = NullWhenEmpty(eventsHandlerDll);
    return options;
}

int32_t RunPackager(const PackagerParams& params, const PackagingPlatform& platform) {
    LogReport(kLevelInfo, kComponent, L"%s", L"BuildPackage started.");
    int32_t result = 0;
    {
        PackagerWrapper wrapper(params, platform);
        result = wrapper.BuildPackage();
        LogReport(kLevelInfo, kComponent, L"BuildPackage finished. Result code = %d ",
                  static_cast<int>(result));
    }
    return result;
}
