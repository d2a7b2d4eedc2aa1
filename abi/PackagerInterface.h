#pragma once

// The binary interface of the packager library KQPackager.dll, shared by the tool, the
// reference library and the test doubles. Records use natural alignment; their x86 sizes are
// fixed and asserted below. Strings are null-terminated UTF-16, null when empty.

#include <windows.h>

#include <cstdint>

// {CA25DBE4-81D5-4467-8D0B-D4F05B31A942}
inline constexpr GUID IID_IPackager = {
    0xCA25DBE4, 0x81D5, 0x4467, {0x8D, 0x0B, 0xD4, 0xF0, 0x5B, 0x31, 0xA9, 0x42}};

struct PatchInfo {
    GUID id;
    uint16_t languageId;
    uint16_t padding;
};

// Filled by GetAvailablePatches; the array belongs to the library.
struct PatchList {
    uint32_t count;
    PatchInfo* patches;
};

// Filled by GetVendorPatchFile; `fileName` is relative to the current directory and belongs
// to the library.
struct VendorFileInfo {
    uint32_t reserved;
    const wchar_t* fileName;
};

struct PackagerInitInfo {
    int32_t packagerLogLevel;
    const wchar_t* packagerLog;
    const wchar_t* catalogFile;
    uint32_t reserved1[2];
    GUID patchId;
    uint32_t patchCount;  // always 1
    const PatchInfo* patches;
    uint32_t reserved2[3];
};

struct PackageItem {
    GUID id;
    uint16_t languageId;
    uint16_t padding;
    uint32_t unset1;
    uint32_t index;  // place in the PatchList, from 0
    uint32_t reserved[2];
    uint32_t unset2;
};

struct PackageRequest {
    const wchar_t* source;  // "local"
    uint32_t reserved1;
    uint32_t count;
    const PackageItem* items;
    uint32_t reserved2[2];
};

// Bits of DeploymentOptions::flags: the library removes its temporary files when
// kRemoveTempFilesFlag is set.
inline constexpr uint32_t kRemoveTempFilesFlag = 0x2;
inline constexpr uint32_t kPreserveTempFilesFlags = 1668;  // 0x684
inline constexpr uint32_t kRemoveTempFilesFlags = 1670;    // 0x686

struct DeploymentOptions {
    int32_t deploymentLogLevel;
    const wchar_t* deploymentLog;
    uint32_t reserved1[6];
    const wchar_t* eventsHandlerDll;
    uint32_t reserved2[6];
    uint32_t flags;
};

#if !defined(_WIN64)
static_assert(sizeof(PatchInfo) == 20);
static_assert(sizeof(PackagerInitInfo) == 56);
static_assert(sizeof(PackageItem) == 40);
static_assert(sizeof(PackageRequest) == 24);
static_assert(sizeof(DeploymentOptions) == 64);
#endif

// A COM-style object: slots 0-2 are IUnknown's; every method is __stdcall and returns a
// signed 32-bit status. Slots 5, 6, 8 and 9 are placeholders and never called.
struct IPackager {
    virtual HRESULT __stdcall QueryInterface(const IID& iid, void** object) = 0;
    virtual ULONG __stdcall AddRef() = 0;
    virtual ULONG __stdcall Release() = 0;
    // 0 is success.
    virtual int32_t __stdcall Initialize(const PackagerInitInfo* info) = 0;
    // 0 is success.
    virtual int32_t __stdcall GetAvailablePatches(PatchList* list) = 0;
    virtual int32_t __stdcall Reserved5() = 0;
    virtual int32_t __stdcall Reserved6() = 0;
    // Negative is failure.
    virtual int32_t __stdcall GetVendorPatchFile(const PatchInfo* patch, VendorFileInfo* file) = 0;
    virtual int32_t __stdcall Reserved8() = 0;
    virtual int32_t __stdcall Reserved9() = 0;
    // 0 is success, after which the package is expected at `packageFile`.
    virtual int32_t __stdcall CreatePackage(const PackageRequest* request,
                                            const wchar_t* packageFile,
                                            const DeploymentOptions* options) = 0;
};

// The library's one export, undecorated. A negative status is failure; otherwise
// `*packager` holds a live reference.
using CreatePackagerFn = HRESULT(__stdcall*)(const IID* iid, IPackager** packager);
