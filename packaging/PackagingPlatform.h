#pragma once

#include <cstdint>
#include <string>

#include "PackagerInterface.h"

// Code a delay-loaded import reports on Windows for a failed binding: the facility code
// combined with the loader's last error (0xC06D007E for a missing library, 0xC06D007F for a
// missing export).
inline constexpr uint32_t kDelayLoadFacility = 0xC06D0000u;

// The outcome of one CreatePackager call.
struct CreateOutcome {
    // True when CreatePackager was bound and returned; false when the library or its export
    // could not be bound, or when the call faulted. `faultCode` then holds the code to report.
    bool returned = false;
    uint32_t faultCode = 0;
    // CreatePackager's own status, when `returned`.
    int32_t status = 0;
};

// What the packager wrapper asks of the platform: the packager object, and the folder the
// packager library is copied to.
class PackagingPlatform {
  public:
    virtual ~PackagingPlatform() = default;
    // Creates the packager object through KQPackager.dll's CreatePackager.
    virtual CreateOutcome CreatePackager(IPackager** packager) = 0;
    // The executable's folder (GetExeDir); empty, with the last error set, when unknown.
    virtual std::wstring ExeDir() = 0;
};

// The library itself: bound at the first CreatePackager (through the normal library search)
// and kept loaded until the process ends, since objects and strings it hands out must outlive
// every wrapper. A fault inside CreatePackager is caught and reported as not returned.
class RealPackagingPlatform : public PackagingPlatform {
  public:
    CreateOutcome CreatePackager(IPackager** packager) override;
    std::wstring ExeDir() override;

  private:
    // 0 when bound; otherwise the code a delay-loaded import would report.
    uint32_t Bind();

    CreatePackagerFn createPackager = nullptr;
};
