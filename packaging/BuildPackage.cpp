// The package build: the patch list, the requested patch among it, the vendor files and
// CreatePackage, after the environment is prepared and the library initialised.
#include <cstring>
#include <cwchar>
#include <vector>

#include "PackagerWrapper.h"
#include "Queries.h"
#include "Util.h"
#include "WrapperSupport.h"

namespace {

bool SamePatch(const PatchInfo& entry, const GUID& id, uint16_t language) {
    return std::memcmp(&entry.id, &id, sizeof(GUID)) == 0 && entry.languageId == language;
}

}  // namespace

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
    if (const int32_t listed = CheckedLibraryCall(
            L"GetAvailablePatches", L"Unable to get GetAvailablePatches due to error %d",
            [&] { return packager.Get()->GetAvailablePatches(&list); });
        listed != 0) {
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
        // Read for each entry: the library runs between the lookups and may change it.
        std::wstring folder = GetCurrentDirectoryPath();
        if (folder.empty() || folder.back() != L'\\') {
            folder.push_back(L'\\');
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
    if (const int32_t created = CheckedLibraryCall(
            L"CreatePackage", L"Unable to create package due to error %d",
            [&] { return packager.Get()->CreatePackage(&request, packageFile.c_str(), &options); });
        created != 0) {
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

int32_t RunPackager(const PackagerParams& params, PackagingPlatform& platform) {
    Report(kLevelInfo, L"%s", L"BuildPackage started.");
    int32_t result = 0;
    {
        PackagerWrapper wrapper(params, platform);
        result = wrapper.BuildPackage();
        Report(kLevelInfo, L"BuildPackage finished. Result code = %d ", static_cast<int>(result));
    }
    return result;
}
