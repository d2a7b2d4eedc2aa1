#pragma once

// What the reference packager's tests share: catalogs made on the spot, a library object to
// call, and a fixture that builds packages in a folder of its own as the current folder.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Catalog.h"
#include "GuidText.h"
#include "ReferencePackager.h"
#include "TestEnv.h"
#include "ZipReader.h"
#include "WinResources.h"
#include "ZipWriter.h"

// The library's export, linked into the tests from its source.
extern "C" HRESULT __stdcall CreatePackager(const IID* iid, IPackager** packager);

constexpr const char* kCatalog =
    "guid,language,vendor_file,title\r\n"
    "6F2C7A41-0B3E-4D5A-9C11-2E8B4F7D1A01,0x0409,vendor\\en.msp,English, with a comma\r\n"
    "{6F2C7A41-0B3E-4D5A-9C11-2E8B4F7D1A01},1031,vendor\\de.msp,\r\n"
    "\r\n"
    "A8D3E5F0-6C2B-4B19-8E77-5D1C9A0B3F22,0x0411,missing.msp,Japanese\r\n";

inline std::wstring MakeCatalog(const TempDir& dir, const std::string& csv) {
    const std::wstring path = dir / L"windowspatchdata.zip";
    WriteTextFile(dir / L"patches.src", csv);
    const UniqueFile file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ZipWriter writer(file.Get(), ZipOptions{}, kZipLimits);
    writer.AddFile("patches.csv", dir / L"patches.src");
    writer.Finish();
    return path;
}

struct Library {
    UniqueComReference<ReferencePackager> owned{new ReferencePackager()};
    ReferencePackager* packager = owned.Get();
    Library() = default;
    Library& operator=(Library&& other) noexcept {
        owned = std::move(other.owned);
        packager = owned.Get();
        return *this;
    }
};

// Initializes a fresh library with a catalog of `csv`, logging to <dir>\packager.log; the
// status, and the log in `log`.
inline int32_t InitializeWith(const TempDir& dir, const std::string& csv, std::string* log) {
    const std::wstring catalog = MakeCatalog(dir, csv);
    const std::wstring logPath = dir / L"packager.log";
    Library lib;
    PackagerInitInfo info{};
    info.packagerLogLevel = -1;
    info.packagerLog = logPath.c_str();
    info.catalogFile = catalog.c_str();
    const int32_t status = lib.packager->Initialize(&info);
    *log = ReadTextFile(logPath);
    return status;
}

inline PatchInfo Patch(const char* guid, uint16_t languageId) {
    PatchInfo patch{};
    PatchGuid id;
    ParsePatchGuid(guid, &id);
    patch.id = ToGuid(id);
    patch.languageId = languageId;
    return patch;
}

constexpr const char* kEnglish = "6F2C7A41-0B3E-4D5A-9C11-2E8B4F7D1A01";
constexpr const char* kJapanese = "A8D3E5F0-6C2B-4B19-8E77-5D1C9A0B3F22";

// SHA-256 digests from Python's hashlib, not from the code under test.
constexpr const char* kEnglishSha =
    "27fecc148f50dda18ec89755d83bb5700b91bffc747ce99f5e5d07e16ed6cf1d";
constexpr const char* kAbcSha = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

// English and German pinned (English in upper case), Japanese not.
inline std::string PinnedCatalog() {
    std::string english = kEnglishSha;
    for (char& c : english) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return "guid,language,vendor_file,sha256,title\r\n"
           "6F2C7A41-0B3E-4D5A-9C11-2E8B4F7D1A01,0x0409,vendor\\en.msp," +
           english + ",English\r\n" +
           "6F2C7A41-0B3E-4D5A-9C11-2E8B4F7D1A01,0x0407,vendor\\de.msp," + kAbcSha + ",\r\n" +
           "A8D3E5F0-6C2B-4B19-8E77-5D1C9A0B3F22,0x0411,missing.msp,,Japanese\r\n";
}

// The log's line for a vendor file that is not what its pin says, and what became of it.
inline std::string MismatchLine(const std::string& file, const std::string& expected,
                                const std::string& found, const std::string& outcome) {
    return "the vendor file " + file + " does not match its pinned sha256 digest: expected " +
           expected + ", found " + found + "; " + outcome;
}

class PackageBuild : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t current[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, current);
        previous = current;
        CreateDirectoryW((dir / L"vendor").c_str(), nullptr);
        WriteTextFile(dir / L"vendor\\en.msp", std::string(300000, 'e'));
        SetCurrentDirectoryW(dir.Path().c_str());
        Prepare(kCatalog, nullptr);
    }
    void TearDown() override { SetCurrentDirectoryW(previous.c_str()); }

    // A fresh library initialised with `csv`, for `requested` when given, logging to `log`;
    // the request lists every patch of the catalog.
    void Prepare(const std::string& csv, const PatchInfo* requested,
                 const std::wstring& logPath = L"") {
        catalog = MakeCatalog(dir, csv);
        Start(requested, logPath);
    }

    // A fresh library initialised with the catalog as it is.
    void Start(const PatchInfo* requested, const std::wstring& logPath) {
        lib = Library{};
        items.clear();
        PackagerInitInfo info{};
        info.packagerLogLevel = -1;
        info.packagerLog = logPath.empty() ? nullptr : logPath.c_str();
        info.catalogFile = catalog.c_str();
        info.patchCount = requested != nullptr ? 1 : 0;
        info.patches = requested;
        ASSERT_EQ(lib.packager->Initialize(&info), 0);
        PatchList list{0, nullptr};
        ASSERT_EQ(lib.packager->GetAvailablePatches(&list), 0);
        for (uint32_t i = 0; i < list.count; ++i) {
            PackageItem item{};
            item.id = list.patches[i].id;
            item.languageId = list.patches[i].languageId;
            item.index = i;
            items.push_back(item);
        }
    }

    // The files of the test folder, the catalog's own and the log excepted.
    std::vector<std::wstring> Files() {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW data;
        const UniqueFind find(FindFirstFileW((dir / L"*").c_str(), &data));
        do {
            const std::wstring name = data.cFileName;
            if (name != L"." && name != L".." && name != L"patches.src" &&
                name != L"windowspatchdata.zip" && name != L"packager.log") {
                names.push_back(name);
            }
        } while (find && FindNextFileW(find.Get(), &data));
        return names;
    }

    int32_t Create(const std::wstring& target, uint32_t flags = kRemoveTempFilesFlags) {
        PackageRequest request{};
        request.source = L"local";
        request.count = static_cast<uint32_t>(items.size());
        request.items = items.data();
        DeploymentOptions options{};
        options.deploymentLogLevel = 4;
        options.deploymentLog = L"C:\\logs\\deploy.log";
        options.eventsHandlerDll = L"C:\\out\\handler.dll";
        options.flags = flags;
        return lib.packager->CreatePackage(&request, target.c_str(), &options);
    }

    std::vector<std::string> EntryNames(const std::wstring& package) {
        ZipReader reader;
        std::vector<std::string> names;
        EXPECT_EQ(reader.Open(package), ZipStatus::Ok);
        for (const ZipEntry& entry : reader.Entries()) {
            names.push_back(entry.name);
        }
        return names;
    }

    std::string Manifest(const std::wstring& package) {
        ZipReader reader;
        std::string text;
        EXPECT_EQ(reader.Open(package), ZipStatus::Ok);
        EXPECT_EQ(reader.Extract("manifest.txt", 1 << 20, &text), ZipStatus::Ok);
        return text;
    }

    TempDir dir;
    Library lib;
    std::wstring catalog, previous;
    std::vector<PackageItem> items;
};
