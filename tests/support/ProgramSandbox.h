#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ProcessRunner.h"
#include "TestEnv.h"

// A fresh folder laid out for one run of DeploymentPackager.exe as a caller would set it up:
// bin\ (the executable and a packager library), catalog\ (windowspatchdata.zip), out\ and
// work\ (the current directory). The recording packager double is installed by default; its
// script and record files live in the folder too.
class ProgramSandbox {
  public:
    ProgramSandbox();
    virtual ~ProgramSandbox() = default;

    // Copies a packager library variant (a folder under bin\doubles, or "reference") into
    // `folder` as KQPackager.dll.
    bool InstallPackager(const std::wstring& variant, const std::wstring& folder);

    // The four required options for the sample patch, region 0.
    std::vector<std::wstring> Required() const;

    // Runs the executable in work\ with `args`; RunWith puts the required options first.
    virtual RunResult Run(const std::vector<std::wstring>& args,
                          std::vector<std::wstring> environment = {});
    RunResult RunWith(const std::vector<std::wstring>& extra);

    // The packager double's record, a line per entry, and the first line starting with
    // `prefix` (empty when there is none).
    std::vector<std::string> Record() const;
    std::string RecordLine(const std::string& prefix) const;

    static const std::wstring kGuid;
    static const std::string kGuidUpper;

    TempDir dir;
    std::wstring bin, catalog, output, work, exe;
    std::string script;              // the packager double's script for the next run
    std::function<bool()> killWhen;  // ends a run once it answers true (RunOptions::killWhen)
    bool noEventLibrary = false;     // none was installed when the sandbox was made
};
