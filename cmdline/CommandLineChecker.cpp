#include "CommandLineChecker.h"

#include <windows.h>

#include <cstring>

#include "LanguageTable.h"
#include "Logger.h"
#include "Util.h"

namespace {

constexpr const wchar_t* kComponent = L"Deployment Packager CmdLine Checker";

void ReportError(const wchar_t* format, const wchar_t* text) {
    LogReport(kLevelError, kComponent, format, text);
}

}  // namespace

CommandLineChecker::CommandLineChecker(CmdLineHelper& helper) : store(helper) {}

CommandLineChecker::~CommandLineChecker() = default;

bool CommandLineChecker::Check() {
    for (const wchar_t* required : {L"p", L"r", L"c", L"o"}) {
        if (!store.IsPresent(required)) {
            ReportError(L"%s", L"Packager: invalid command line");
            return false;
        }
    }

    const std::wstring patchText = store.GetValue(L"p", L"");
    GUID patchId{};
    if (!ParseUuid(patchText.c_str(), &patchId)) {
        const DWORD code = GetLastError();
        LogReport(kLevelError, kComponent, L"Unable to parse UUID string. Err = %d.",
                  static_cast<int>(code));
        return false;
    }
    const GUID zero{};
    if (std::memcmp(&patchId, &zero, sizeof(GUID)) == 0) {
        ReportError(L"%s", L"Packager: patch id is empty.");
        return false;
    }

    if (!IsSupportedRegion(store.GetInt64(L"r", -1))) {
        const std::wstring regionText = store.GetValue(L"r", L"");
        ReportError(L"Packager: invalid region: %s", regionText.c_str());
        return false;
    }
    return true;
}
