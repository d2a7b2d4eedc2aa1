#include "PackagingPlatform.h"

#include "Guard.h"
#include "Util.h"
#include "WinResources.h"

uint32_t RealPackagingPlatform::Bind() {
    if (createPackager != nullptr) {
        return 0;
    }
    // Never freed: see the class comment.
    HMODULE library = LoadLibraryW(L"KQPackager.dll");
    if (library == nullptr) {
        return kDelayLoadFacility | (GetLastError() & 0xFFFFu);
    }
    createPackager = FunctionCast<CreatePackagerFn>(GetProcAddress(library, "CreatePackager"));
    if (createPackager == nullptr) {
        return kDelayLoadFacility | (GetLastError() & 0xFFFFu);
    }
    return 0;
}

CreateOutcome RealPackagingPlatform::CreatePackager(IPackager** packager) {
    CreateOutcome outcome;
    if (const uint32_t code = Bind(); code != 0) {
        outcome.faultCode = code;
        return outcome;
    }
    HRESULT status = 0;
    auto call = [&] { status = createPackager(&IID_IPackager, packager); };
    uint32_t code = 0;
    if (!RunGuardedCall(call, &code)) {
        outcome.faultCode = code;
        return outcome;
    }
    outcome.returned = true;
    outcome.status = static_cast<int32_t>(status);
    return outcome;
}

std::wstring RealPackagingPlatform::ExeDir() {
    return GetExeDir();
}
