#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// The validated option values handed from the run sequence to the packaging driver. The
// constructor copies every string, looks the language up by region number and resolves the
// seven path fields (catalogDir, outputDir, packagerLog, deploymentLog, runtimeDir,
// packagerDir, packageFile) with ResolvePathName; a path that fails to resolve is reported
// ("ResolvePathName: failed.", level 1, "Deployment Packager Params") and left empty.
// eventsHandlerDll is kept as given. Readers only copy the fields.
class PackagerParams {
  public:
    PackagerParams(GUID patchId, uint16_t region, const std::wstring& catalogDir,
                   const std::wstring& outputDir, const std::wstring& eventsHandlerDll,
                   const std::wstring& packagerLog, int32_t packagerLogLevel,
                   bool overwritePackagerLog, const std::wstring& deploymentLog,
                   int32_t deploymentLogLevel, bool overwriteDeploymentLog,
                   const std::wstring& runtimeDir, const std::wstring& packagerDir,
                   const std::wstring& packageFile, bool preserveTempFiles);
    virtual ~PackagerParams();

    GUID patchId;
    uint16_t languageId;
    std::wstring catalogDir;
    std::wstring outputDir;
    std::wstring eventsHandlerDll;
    std::wstring packagerLog;
    int32_t packagerLogLevel;
    bool overwritePackagerLog;
    std::wstring deploymentLog;
    int32_t deploymentLogLevel;
    bool overwriteDeploymentLog;
    std::wstring runtimeDir;
    std::wstring packagerDir;
    std::wstring packageFile;
    bool preserveTempFiles;

  private:
    void ResolvePaths();
    std::wstring ResolveParamPath(const std::wstring& value);
};
