#include "PackagerBinding.h"

#include "Guard.h"
#include "WinResources.h"

namespace {

class LibraryFactory : public PackagerFactory {
  public:
    CreateOutcome Create(IPackager** packager) override {
        CreateOutcome outcome;
        if (createPackager == nullptr) {
            // Never freed: objects and strings the library hands out must outlive the
            // wrapper, and the library is bound for the life of the process.
            HMODULE library = LoadLibraryW(L"KQPackager.dll");
            if (library == nullptr) {
                outcome.faultCode = kDelayLoadFacility | (GetLastError() & 0xFFFFu);
                return outcome;
            }
            createPackager =
                FunctionCast<CreatePackagerFn>(GetProcAddress(library, "CreatePackager"));
            if (createPackager == nullptr) {
                outcome.faultCode = kDelayLoadFacility | (GetLastError() & 0xFFFFu);
                return outcome;
            }
        }
        struct Call {
            CreatePackagerFn create;
            IPackager** packager;
            HRESULT status;
            void operator()() { status = create(&IID_IPackager, packager); }
        } call{createPackager, packager, 0};
        uint32_t code = 0;
        if (!RunGuardedCall(call, &code)) {
            outcome.faultCode = code;
            return outcome;
        }
        outcome.returned = true;
        outcome.status = static_cast<int32_t>(call.status);
        return outcome;
    }

  private:
    CreatePackagerFn createPackager = nullptr;
};

}  // namespace

PackagerFactory& LibraryPackagerFactory() {
    static LibraryFactory factory;
    return factory;
}
