// The inherent work of one packaging run, and nothing else: bind the packager library from
// this program's folder, list the patches, and per patch one library call, one existence test
// and one line of output; then the package request. The scale benchmark runs it beside the
// tool as the baseline.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "PackagerInterface.h"
#include "WinResources.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    HMODULE library = LoadLibraryW(L"KQPackager.dll");
    auto create = FunctionCast<CreatePackagerFn>(GetProcAddress(library, "CreatePackager"));
    IPackager* created = nullptr;
    if (create == nullptr || create(&IID_IPackager, &created) < 0 || created == nullptr) {
        return 2;
    }
    const UniqueComReference<IPackager> owned(created);
    IPackager* packager = owned.Get();
    PatchInfo wanted{};
    PackagerInitInfo info{};
    info.catalogFile = L"catalog\\windowspatchdata.zip";
    info.patchCount = 1;
    info.patches = &wanted;
    PatchList list{0, nullptr};
    if (packager->Initialize(&info) != 0 || packager->GetAvailablePatches(&list) != 0) {
        return 3;
    }
    std::vector<PackageItem> items(list.count);
    for (uint32_t i = 0; i < list.count; ++i) {
        VendorFileInfo file{};
        packager->GetVendorPatchFile(&list.patches[i], &file);
        const bool exists = file.fileName != nullptr &&
                            GetFileAttributesW(file.fileName) != INVALID_FILE_ATTRIBUTES;
        std::printf("%s %u\n", exists ? "present" : "missing", i);
        items[i].id = list.patches[i].id;
        items[i].languageId = list.patches[i].languageId;
        items[i].index = i;
    }
    PackageRequest request{L"local", 0, list.count, items.data(), {0, 0}};
    DeploymentOptions options{};
    options.flags = kRemoveTempFilesFlags;
    return packager->CreatePackage(&request, L"out\\deploy-package.zip", &options);
}
