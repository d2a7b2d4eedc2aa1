// The reference packager writing a package of vendor files of 256 MiB in all, against
// CopyFileW of the same files, in the same run. Prints both throughputs and their ratio.
// Usage: package_bench [total MiB] [files]
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "PackagerInterface.h"
#include "ZipArchive.h"

namespace {

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::wstring TempFolder() {
    wchar_t base[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, base);
    std::wstring folder =
        std::wstring(base) + L"dp-package-bench-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

bool WriteFileWhole(const std::wstring& path, const std::string& data) {
    const UniqueFile file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD done = 0;
    return file &&
           WriteFile(file.Get(), data.data(), static_cast<DWORD>(data.size()), &done, nullptr);
}

std::wstring ExeFolder() {
    wchar_t path[MAX_PATH * 4];
    GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    std::wstring text = path;
    return text.substr(0, text.find_last_of(L'\\'));
}

}  // namespace

int main(int argc, char** argv) {
    const size_t totalMiB = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const size_t files = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 8;
    const size_t fileSize = (totalMiB << 20) / files;
    const std::wstring folder = TempFolder();
    SetCurrentDirectoryW(folder.c_str());
    CreateDirectoryW(L"vendor", nullptr);
    CreateDirectoryW(L"copies", nullptr);

    // Installer-like content: incompressible.
    std::string data(fileSize, '\0');
    uint64_t state = 88172645463325252ull;
    for (size_t i = 0; i + 8 <= data.size(); i += 8) {
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        std::memcpy(&data[i], &state, 8);
    }
    std::string csv = "guid,language,vendor_file,title\n";
    std::vector<PackageItem> items;
    for (size_t i = 0; i < files; ++i) {
        char name[64];
        std::snprintf(name, sizeof(name), "vendor\\file%02zu.msp", i);
        data[0] = static_cast<char>(i);
        WriteFileWhole(std::wstring(name, name + strlen(name)), data);
        char line[160];
        std::snprintf(line, sizeof(line), "%08zX-0000-0000-0000-000000000001,0x0409,%s,bench\n",
                      i + 1, name);
        csv += line;
        PackageItem item{};
        item.id = GUID{static_cast<unsigned long>(i + 1), 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
        item.languageId = 0x409;
        item.index = static_cast<uint32_t>(i);
        items.push_back(item);
    }
    WriteFileWhole(L"patches.csv", csv);
    {
        const UniqueFile catalog(CreateFileW(L"windowspatchdata.zip", GENERIC_WRITE, 0, nullptr,
                                             CREATE_ALWAYS, 0, nullptr));
        ZipWriter writer(catalog.Get());
        writer.AddFile("patches.csv", L"patches.csv");
        writer.Finish();
    }

    HMODULE library = LoadLibraryW((ExeFolder() + L"\\reference\\KQPackager.dll").c_str());
    auto create = FunctionCast<CreatePackagerFn>(GetProcAddress(library, "CreatePackager"));
    IPackager* created = nullptr;
    if (create == nullptr || create(&IID_IPackager, &created) < 0 || created == nullptr) {
        std::fprintf(stderr, "cannot load reference\\KQPackager.dll\n");
        return 2;
    }
    const UniqueComReference<IPackager> owned(created);
    IPackager* packager = owned.Get();
    const std::wstring catalogPath = folder + L"\\windowspatchdata.zip";
    PackagerInitInfo info{};
    info.catalogFile = catalogPath.c_str();
    if (packager->Initialize(&info) != 0) {
        std::fprintf(stderr, "cannot read the bench catalog\n");
        return 2;
    }
    PackageRequest request{L"local", 0, static_cast<uint32_t>(items.size()), items.data(), {0, 0}};
    DeploymentOptions options{};
    options.flags = kRemoveTempFilesFlags;

    double bestCopy = 1e9, bestPackage = 1e9;
    for (int round = 0; round < 3; ++round) {
        double start = Now();
        for (size_t i = 0; i < files; ++i) {
            wchar_t from[64], to[64];
            std::swprintf(from, 64, L"vendor\\file%02zu.msp", i);
            std::swprintf(to, 64, L"copies\\file%02zu.msp", i);
            CopyFileW(from, to, FALSE);
        }
        bestCopy = std::min(bestCopy, Now() - start);
        start = Now();
        const int32_t status =
            packager->CreatePackage(&request, (folder + L"\\package.zip").c_str(), &options);
        bestPackage = std::min(bestPackage, Now() - start);
        if (status != 0) {
            std::fprintf(stderr, "CreatePackage failed: 0x%08X\n", static_cast<unsigned>(status));
            return 2;
        }
    }
    const double mib = static_cast<double>(fileSize * files) / (1 << 20);
    std::printf("vendor files: %zu x %.1f MiB, best of 3\n", files, mib / files);
    std::printf("CopyFileW:      %.3f s (%.0f MiB/s)\n", bestCopy, mib / bestCopy);
    std::printf("CreatePackage:  %.3f s (%.0f MiB/s)\n", bestPackage, mib / bestPackage);
    std::printf("throughput ratio (package / copy): %.2f\n", bestCopy / bestPackage);

    for (size_t i = 0; i < files; ++i) {
        wchar_t name[64];
        std::swprintf(name, 64, L"vendor\\file%02zu.msp", i);
        DeleteFileW(name);
        std::swprintf(name, 64, L"copies\\file%02zu.msp", i);
        DeleteFileW(name);
    }
    DeleteFileW(L"package.zip");
    DeleteFileW(L"patches.csv");
    DeleteFileW(L"windowspatchdata.zip");
    RemoveDirectoryW(L"vendor");
    RemoveDirectoryW(L"copies");
    SetCurrentDirectoryW(L"..");
    RemoveDirectoryW(folder.c_str());
    return 0;
}
