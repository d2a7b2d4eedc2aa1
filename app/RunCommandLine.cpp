#include "RunCommandLine.h"

#include <clocale>
#include <cwchar>
#include <string>

#include "CmdLineHelper.h"
#include "CommandLineChecker.h"
#include "PackagerParams.h"
#include "PackagerWrapper.h"
#include "Util.h"

int32_t RunCommandLine(int argc, const wchar_t* const* argv, PackagingPlatform& platform) {
    std::setlocale(LC_ALL, "");
    CmdLineHelper store(argc, argv);
    CommandLineChecker checker(store);
    OpenConsole(store.IsPresent(L"w"));
    if (!checker.Check()) {
        return 1;
    }

    const std::wstring exeDir = GetExeDir();
    const std::wstring currentDir = GetCurrentDirectoryPath();

    GUID patchId{};
    // The checker has accepted this very text, so the conversion cannot fail here.
    ParseUuid(store.GetValue(L"p", L"").c_str(), &patchId);
    const uint16_t region = static_cast<uint16_t>(store.GetInt64(L"r", 0));
    const std::wstring catalogDir = store.GetValue(L"c", exeDir.c_str());
    const std::wstring outputDir = store.GetValue(L"o", exeDir.c_str());
    const std::wstring preserveText = store.GetValue(L"sf", L"");
    const bool preserveTempFiles = _wcsicmp(preserveText.c_str(), L"true") == 0;
    const std::wstring packageFile = store.GetValue(L"dp", L"deploy-package.zip");
    const std::wstring eventsHandlerDll = store.GetValue(L"e", L"ZelDeploymentEventsHandler.dll");
    const std::wstring packagerLog =
        store.GetValue(L"pl", (currentDir + L"\\PatchPackager.log").c_str());
    const int32_t packagerLogLevel = static_cast<int32_t>(store.GetInt64(L"pt", -1));
    const bool overwritePackagerLog = store.IsPresent(L"po");
    const std::wstring deploymentLog =
        store.GetValue(L"dl", (currentDir + L"\\PatchDeployment.log").c_str());
    const int32_t deploymentLogLevel = static_cast<int32_t>(store.GetInt64(L"dt", -1));
    const bool overwriteDeploymentLog = store.IsPresent(L"do");
    const std::wstring runtimeDir = store.GetValue(L"crt", L"");
    const std::wstring packagerDir = store.GetValue(L"pd", L"");

    const PackagerParams params(patchId, region, catalogDir, outputDir, eventsHandlerDll,
                                packagerLog, packagerLogLevel, overwritePackagerLog, deploymentLog,
                                deploymentLogLevel, overwriteDeploymentLog, runtimeDir, packagerDir,
                                packageFile, preserveTempFiles);
    return RunPackager(params, platform);
}
