#include "PackagerBinding.h"

#include "Guard.h"
#include "WinResources.h"

namespace {

// Never freed: objects and strings the library hands out must outlive the wrapper, and the
// library is bound for the life of the process.
CreatePackagerFn boundCreatePackager = nullptr;

// 0 when bound; otherwise the code a delay-loaded import would report.
uint32_t Bind() {
    if (boundCreatePackager != nullptr) {
        return 0;
    }
    HMODULE library = LoadLibraryW(L"KQPackager.dll");
    if (library == nullptr) {
        return kDelayLoadFacility | (GetLastError() & 0xFFFFu);
    }
    boundCreatePackager = FunctionCast<CreatePackagerFn>(GetProcAddress(library, "CreatePackager"));
    if (boundCreatePackager == nullptr) {
        return kDelayLoadFacility | (GetLastError() & 0xFFFFu);
    }
    return 0;
}

}  // namespace

CreateOutcome CreatePackagerFromLibrary(IPackager** packager) {
    CreateOutcome outcome;
    if (const uint32_t code = Bind(); code != 0) {
        outcome.faultCode = code;
        return outcome;
    }
    HRESULT status = 0;
    auto call = [&] { status = boundCreatePackager(&IID_IPackager, packager); };
    uint32_t code = 0;
    if (!RunGuardedCall(call, &code)) {
        outcome.faultCode = code;
        return outcome;
    }
    outcome.returned = true;
    outcome.status = static_cast<int32_t>(status);
    return outcome;
}
