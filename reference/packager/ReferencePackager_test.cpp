#include "ReferencePackager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "PackageBuildTesting.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

TEST(ReferencePackager, ListsTheCatalogAndNamesVendorFiles) {
    TempDir dir;
    Library lib;
    const std::wstring catalog = MakeCatalog(dir, kCatalog);
    const std::wstring log = dir / L"packager.log";
    PackagerInitInfo info{};
    info.packagerLogLevel = -1;
    info.packagerLog = log.c_str();
    info.catalogFile = catalog.c_str();
    ASSERT_EQ(lib.packager->Initialize(&info), 0);
    PatchList list{0, nullptr};
    ASSERT_EQ(lib.packager->GetAvailablePatches(&list), 0);
    ASSERT_EQ(list.count, 3u);
    EXPECT_EQ(list.patches[1].languageId, 1031);
    EXPECT_EQ(list.patches[2].id.Data1, 0xA8D3E5F0u);
    VendorFileInfo file{};
    ASSERT_EQ(lib.packager->GetVendorPatchFile(&list.patches[0], &file), 0);
    EXPECT_STREQ(file.fileName, L"vendor\\en.msp");
    PatchInfo unknown = list.patches[0];
    unknown.languageId = 0x40C;
    EXPECT_EQ(lib.packager->GetVendorPatchFile(&unknown, &file), KQ_E_PATCH_UNKNOWN);
    EXPECT_THAT(ReadTextFile(log), HasSubstr("catalog offers 3 patches"));
    // Asked again, the library lists the catalog once more, not twice over.
    ASSERT_EQ(lib.packager->GetAvailablePatches(&list), 0);
    EXPECT_EQ(list.count, 3u);
}

TEST(ReferencePackager, EachLogLineIsStampedWithTheLocalDate) {
    TempDir dir;
    SYSTEMTIME before;
    GetLocalTime(&before);
    std::string text;
    ASSERT_EQ(InitializeWith(dir, kCatalog, &text), 0);
    SYSTEMTIME after;
    GetLocalTime(&after);
    auto Stamp = [](const SYSTEMTIME& t) {
        char date[16];
        std::snprintf(date, sizeof(date), "%04u-%02u-%02u ", t.wYear, t.wMonth, t.wDay);
        return std::string(date);
    };
    // Either day, should the run straddle midnight.
    EXPECT_TRUE(text.rfind(Stamp(before), 0) == 0 || text.rfind(Stamp(after), 0) == 0) << text;
}

TEST(ReferencePackager, RefusesMissingAndCorruptCatalogsWithDistinctStatuses) {
    TempDir dir;
    const std::wstring missing = dir / L"none.zip";
    const std::wstring notZip = dir / L"text.zip";
    WriteTextFile(notZip, "not a zip");
    const std::wstring badRows =
        MakeCatalog(dir, "guid,language,vendor_file,title\nnot-a-guid,1,x,y\n");
    struct Case {
        std::wstring path;
        int32_t status;
    };
    for (const Case& c : {Case{missing, KQ_E_CATALOG_NOT_FOUND}, Case{notZip, KQ_E_CATALOG_CORRUPT},
                          Case{badRows, KQ_E_CATALOG_CORRUPT}}) {
        Library lib;
        PackagerInitInfo info{};
        info.catalogFile = c.path.c_str();
        EXPECT_EQ(lib.packager->Initialize(&info), c.status);
        PatchList list{0, nullptr};
        EXPECT_EQ(lib.packager->GetAvailablePatches(&list), KQ_E_NOT_INITIALIZED);
    }
}

TEST(ReferencePackager, IsMadeForItsInterfaceOnlyAndAnswersForIUnknown) {
    IPackager* made = nullptr;
    const IID other = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    EXPECT_EQ(CreatePackager(&IID_IPackager, nullptr), E_POINTER);
    EXPECT_EQ(CreatePackager(nullptr, &made), E_NOINTERFACE);
    EXPECT_EQ(made, nullptr);
    EXPECT_EQ(CreatePackager(&other, &made), E_NOINTERFACE);
    ASSERT_EQ(CreatePackager(&IID_IPackager, &made), S_OK);
    const UniqueComReference<IPackager> object(made);

    // Its interfaces: IPackager and IUnknown, each a new reference.
    const IID unknown = {0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    void* asked = nullptr;
    EXPECT_EQ(made->QueryInterface(other, &asked), E_NOINTERFACE);
    EXPECT_EQ(asked, nullptr);
    EXPECT_EQ(made->QueryInterface(IID_IPackager, nullptr), E_POINTER);
    for (const IID& iid : {IID_IPackager, unknown}) {
        ASSERT_EQ(made->QueryInterface(iid, &asked), S_OK);
        EXPECT_EQ(asked, made);
        EXPECT_EQ(made->Release(), 1u);
    }
}

TEST(ReferencePackager, RefusesMissingArgumentsAndCallsBeforeInitialize) {
    IPackager* made = nullptr;
    ASSERT_EQ(CreatePackager(&IID_IPackager, &made), S_OK);
    const UniqueComReference<IPackager> object(made);
    PatchList list{0, nullptr};
    PatchInfo patch{};
    VendorFileInfo file{};
    PackageItem item{};
    PackageRequest request{L"local", 0, 1, &item, {0, 0}};
    DeploymentOptions options{};
    EXPECT_EQ(made->GetAvailablePatches(&list), KQ_E_NOT_INITIALIZED);
    EXPECT_EQ(made->GetVendorPatchFile(&patch, &file), KQ_E_NOT_INITIALIZED);
    EXPECT_EQ(made->CreatePackage(&request, L"p.zip", &options), KQ_E_NOT_INITIALIZED);
    PackagerInitInfo noCatalog{};
    EXPECT_EQ(made->Initialize(nullptr), E_INVALIDARG);
    EXPECT_EQ(made->Initialize(&noCatalog), E_INVALIDARG);
    EXPECT_EQ(made->GetAvailablePatches(nullptr), E_INVALIDARG);
    EXPECT_EQ(made->GetVendorPatchFile(nullptr, &file), E_INVALIDARG);
    EXPECT_EQ(made->GetVendorPatchFile(&patch, nullptr), E_INVALIDARG);
    PackageRequest noItems{L"local", 0, 1, nullptr, {0, 0}};
    struct Call {
        const PackageRequest* request;
        const wchar_t* path;
        const DeploymentOptions* options;
    };
    for (const Call& c : {Call{nullptr, L"p.zip", &options}, Call{&request, nullptr, &options},
                          Call{&request, L"", &options}, Call{&request, L"p.zip", nullptr},
                          Call{&noItems, L"p.zip", &options}}) {
        EXPECT_EQ(made->CreatePackage(c.request, c.path, c.options), E_INVALIDARG);
    }
}

TEST(ReferencePackager, InitializedAgainItAnswersForTheNewCatalogOnly) {
    TempDir dir;
    const std::wstring good = MakeCatalog(dir, kCatalog);
    WriteTextFile(dir / L"broken.zip", "not a zip");
    const std::wstring broken = dir / L"broken.zip";
    Library lib;
    PackagerInitInfo info{};
    info.catalogFile = good.c_str();
    ASSERT_EQ(lib.packager->Initialize(&info), 0);
    ASSERT_EQ(lib.packager->Initialize(&info), 0);
    PatchList list{0, nullptr};
    ASSERT_EQ(lib.packager->GetAvailablePatches(&list), 0);
    EXPECT_EQ(list.count, 3u) << "the patches of the first reading are gone";
    // A new catalog in another order: nothing is found where the old one had it.
    MakeCatalog(dir,
                "guid,language,vendor_file,title\r\n"
                "A8D3E5F0-6C2B-4B19-8E77-5D1C9A0B3F22,0x0411,ja.msp,\r\n"
                "6F2C7A41-0B3E-4D5A-9C11-2E8B4F7D1A01,1031,de.msp,\r\n"
                "A8D3E5F0-6C2B-4B19-8E77-5D1C9A0B3F22,1036,fr.msp,\r\n");
    ASSERT_EQ(lib.packager->Initialize(&info), 0);
    const PatchInfo english = Patch(kEnglish, 0x409);
    const PatchInfo japanese = Patch(kJapanese, 0x411);
    VendorFileInfo file{};
    EXPECT_EQ(lib.packager->GetVendorPatchFile(&english, &file), KQ_E_PATCH_UNKNOWN);
    ASSERT_EQ(lib.packager->GetVendorPatchFile(&japanese, &file), 0);
    EXPECT_STREQ(file.fileName, L"ja.msp");
    info.catalogFile = broken.c_str();
    EXPECT_EQ(lib.packager->Initialize(&info), KQ_E_CATALOG_CORRUPT);
    EXPECT_EQ(lib.packager->GetAvailablePatches(&list), KQ_E_NOT_INITIALIZED);
}

TEST(ReferencePackager, RefusesCatalogsWhoseVendorFilesLeaveTheCurrentFolder) {
    for (const wchar_t* outside :
         {L"..\\secret.txt", L"Z:\\tmp\\secret.txt", L"C:secret.txt", L"\\windows\\win.ini",
          L"/etc/passwd", L"\\\\server\\share\\x", L"vendor\\..\\..\\x", L"x.msp:stream", L"...\\x",
          L"vendor\\. .\\x", L"NUL", L"vendor\\com1.msp", L"conin$"}) {
        EXPECT_FALSE(StaysInCurrentFolder(reinterpret_cast<const char16_t*>(outside)))
            << ToUtf8(outside);
    }
    for (const wchar_t* inside :
         {L"en.msp", L"vendor\\en.msp", L"vendor/en.msp", L".\\vendor\\en.msp",
          L"vendor\\..\\other\\en.msp", L"console.msp", L"com10.msp", L".hidden.msp"}) {
        EXPECT_TRUE(StaysInCurrentFolder(reinterpret_cast<const char16_t*>(inside)))
            << ToUtf8(inside);
    }

    TempDir dir;
    WriteTextFile(dir / L"secret.txt", "secret");
    std::string log;
    EXPECT_EQ(InitializeWith(dir,
                             "guid,language,vendor_file,title\n"
                             "6F2C7A41-0B3E-4D5A-9C11-2E8B4F7D1A01,0x0409,vendor\\en.msp,\n"
                             "A8D3E5F0-6C2B-4B19-8E77-5D1C9A0B3F22,0x0409,..\\secret.txt,\n",
                             &log),
              KQ_E_CATALOG_CORRUPT);
    EXPECT_THAT(log,
                HasSubstr("line 3: the vendor file name ..\\secret.txt leaves the current folder"));
}

TEST(ReferencePackager, RefusesACatalogListingAPatchTwiceAndNamesBothLines) {
    TempDir dir;
    // The same patch in two spellings of its GUID and language.
    std::string log;
    EXPECT_EQ(InitializeWith(dir,
                             "guid,language,vendor_file,title\n"
                             "6F2C7A41-0B3E-4D5A-9C11-2E8B4F7D1A01,0x0409,vendor\\en.msp,\n"
                             "6F2C7A41-0B3E-4D5A-9C11-2E8B4F7D1A01,0x0407,vendor\\de.msp,\n"
                             "{6f2c7a41-0b3e-4d5a-9c11-2e8b4f7d1a01},1033,vendor\\other.msp,\n",
                             &log),
              KQ_E_CATALOG_CORRUPT);
    EXPECT_THAT(log, HasSubstr("line 4: the patch 6F2C7A41-0B3E-4D5A-9C11-"
                               "2E8B4F7D1A01 0x0409 is listed again (first on "
                               "line 2)"));
}

}  // namespace
