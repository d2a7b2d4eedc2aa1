#pragma once

#include <cstdint>

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

// Creates the packager object through KQPackager.dll's CreatePackager, binding the library on
// the first call (through the normal library search) and keeping it loaded until the process
// ends. A fault inside CreatePackager is caught and reported as not returned.
CreateOutcome CreatePackagerFromLibrary(IPackager** packager);
