#include "PackagerParams.h"

#include "LanguageTable.h"
#include "Logger.h"
#include "Util.h"

PackagerParams::PackagerParams(GUID patch, uint16_t region, const std::wstring& catalog,
                               const std::wstring& output, const std::wstring& eventsHandler,
                               const std::wstring& pLog, int32_t pLogLevel, bool overwritePLog,
                               const std::wstring& dLog, int32_t dLogLevel, bool overwriteDLog,
                               const std::wstring& runtime, const std::wstring& packager,
                               const std::wstring& package, bool preserveTemp)
    : patchId(patch),
      languageId(LanguageOfRegion(region)),
      catalogDir(catalog),
      outputDir(output),
      eventsHandlerDll(eventsHandler),
      packagerLog(pLog),
      packagerLogLevel(pLogLevel),
      overwritePackagerLog(overwritePLog),
      deploymentLog(dLog),
      deploymentLogLevel(dLogLevel),
      overwriteDeploymentLog(overwriteDLog),
      runtimeDir(runtime),
      packagerDir(packager),
      packageFile(package),
      preserveTempFiles(preserveTemp) {
    ResolvePaths();
}

PackagerParams::~PackagerParams() = default;

void PackagerParams::ResolvePaths() {
    for (std::wstring* field : {&catalogDir, &outputDir, &packagerLog, &deploymentLog, &runtimeDir,
                                &packagerDir, &packageFile}) {
        *field = ResolveParamPath(*field);
    }
}

std::wstring PackagerParams::ResolveParamPath(const std::wstring& value) {
    const std::wstring resolved = ResolvePathName(value.c_str());
    if (resolved.empty() && !value.empty()) {
        LogReport(kLevelError, L"Deployment Packager Params", L"%s", L"ResolvePathName: failed.");
    }
    return resolved;
}
