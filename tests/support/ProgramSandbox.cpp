#include "ProgramSandbox.h"

#include <windows.h>

const std::wstring ProgramSandbox::kGuid = L"ca25dbe4-81d5-4467-8d0b-d4f05b31a942";
const std::string ProgramSandbox::kGuidUpper = "CA25DBE4-81D5-4467-8D0B-D4F05B31A942";

ProgramSandbox::ProgramSandbox() {
    // Runs start without an event library; the tests that want one install it.
    noEventLibrary = InstalledEventLibrary::EnsureAbsent();
    bin = dir / L"bin";
    catalog = dir / L"catalog";
    output = dir / L"out";
    work = dir / L"work";
    for (const std::wstring& folder : {bin, catalog, output, work}) {
        CreateDirectoryW(folder.c_str(), nullptr);
    }
    exe = bin + L"\\DeploymentPackager.exe";
    CopyFileW(BinPath(L"DeploymentPackager.exe").c_str(), exe.c_str(), FALSE);
    InstallPackager(L"doubles\\packager-recording", bin);
    WriteTextFile(catalog + L"\\windowspatchdata.zip", "catalog");
    script = "patch=" + kGuidUpper + ",0x409,patch.msp\n";
}

bool ProgramSandbox::InstallPackager(const std::wstring& variant, const std::wstring& folder) {
    return CopyFileW(BinPath(variant + L"\\KQPackager.dll").c_str(),
                     (folder + L"\\KQPackager.dll").c_str(), FALSE) != FALSE;
}

std::vector<std::wstring> ProgramSandbox::Required() const {
    return {L"-p", kGuid, L"-r", L"0", L"-c", catalog, L"-o", output};
}

RunResult ProgramSandbox::Run(const std::vector<std::wstring>& args,
                              std::vector<std::wstring> environment) {
    WriteTextFile(dir / L"script.txt", script);
    DeleteFileW((dir / L"record.txt").c_str());
    RunOptions options;
    options.workingDirectory = work;
    options.extraEnvironment = std::move(environment);
    options.killWhen = killWhen;
    options.extraEnvironment.push_back(L"DP_PACKAGER_SCRIPT=" + (dir / L"script.txt"));
    options.extraEnvironment.push_back(L"DP_PACKAGER_RECORD=" + (dir / L"record.txt"));
    options.extraEnvironment.push_back(L"DP_EVENT_RECORD=" + (dir / L"events.txt"));
    return RunProcess(exe, args, options);
}

RunResult ProgramSandbox::RunWith(const std::vector<std::wstring>& extra) {
    std::vector<std::wstring> args = Required();
    args.insert(args.end(), extra.begin(), extra.end());
    return Run(args);
}

std::vector<std::string> ProgramSandbox::Record() const {
    return SplitLines(ReadTextFile(dir / L"record.txt"));
}

std::string ProgramSandbox::RecordLine(const std::string& prefix) const {
    for (const std::string& line : Record()) {
        if (line.rfind(prefix, 0) == 0) {
            return line;
        }
    }
    return "";
}
