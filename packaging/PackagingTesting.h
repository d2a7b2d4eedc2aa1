#pragma once

// What the packaging tests share: a scripted platform (a packager double that records every
// call) and a fixture that runs the wrapper in folders of its own.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "PackagerWrapper.h"
#include "ScriptedPackager.h"
#include "TestEnv.h"
#include "Util.h"

const GUID kPatch = {0xCA25DBE4, 0x81D5, 0x4467, {0x8D, 0x0B, 0xD4, 0xF0, 0x5B, 0x31, 0xA9, 0x42}};
const GUID kOther = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
constexpr const char* kPatchText = "CA25DBE4-81D5-4467-8D0B-D4F05B31A942";
constexpr const char* kOtherText = "11111111-2222-3333-4444-555555555555";

// A packaging platform of the test's own: a scripted packager (or none that binds), the calls
// it receives recorded, and an executable folder of the test's choosing.
class ScriptedPlatform : public PackagingPlatform {
  public:
    CreateOutcome CreatePackager(IPackager** packager) override {
        CreateOutcome outcome;
        if (notBound) {
            outcome.faultCode = notBoundCode;
            return outcome;
        }
        outcome.returned = true;
        outcome.status = ScriptedPackager::Create(
            script, [this](const std::string& line) { record.push_back(line); }, &IID_IPackager,
            packager);
        return outcome;
    }
    std::wstring ExeDir() override { return exeDir; }

    PackagerScript script;
    std::vector<std::string> record;
    std::wstring exeDir;
    bool notBound = false;
    uint32_t notBoundCode = 0;
};

// One build against a scripted packager, in a fresh folder with a catalog and an output
// folder, and the current directory set to a folder of its own.
class Build : public ::testing::Test {
  public:
    void SetUp() override {
        catalog = dir / L"catalog";
        output = dir / L"out";
        work = dir / L"work";
        platform.exeDir = dir / L"bin";
        for (const std::wstring& folder : {catalog, output, work, platform.exeDir}) {
            CreateDirectoryW(folder.c_str(), nullptr);
        }
        WriteTextFile(catalog + L"\\windowspatchdata.zip", "catalog");
        previousDirectory = GetCurrentDirectoryPath();
        SetCurrentDirectoryW(work.c_str());
        platform.script.patches = {{kOther, 0x409, L"other.msp"}, {kPatch, 0x409, L"patch.msp"}};
        GetExeDir();  // the Util instance's first report is not part of any build's messages
    }

    void TearDown() override { SetCurrentDirectoryW(previousDirectory.c_str()); }

    std::unique_ptr<PackagerParams> Params() {
        return std::make_unique<PackagerParams>(kPatch, 0, catalog, output, eventsHandler,
                                                packagerLog, 5, overwritePackagerLog, deploymentLog,
                                                6, overwriteDeploymentLog, runtimeDir, packagerDir,
                                                packageFile, preserve);
    }

    int32_t Run() {
        capture.Clear();
        platform.record.clear();
        return RunPackager(*Params(), platform);
    }

    // "<level> <message>" of the wrapper's reports.
    std::vector<std::wstring> Lines() const {
        std::vector<std::wstring> lines;
        for (const auto& e : capture.Events()) {
            if (e.component == L"Deployment Packager Wrapper") {
                lines.push_back(std::to_wstring(e.level) + L" " + e.message);
            }
        }
        return lines;
    }

    std::vector<std::string> Calls() const {
        std::vector<std::string> calls;
        for (const std::string& line : platform.record) {
            calls.push_back(line.substr(0, line.find(' ')));
        }
        return calls;
    }

    LogCapture capture;
    TempDir dir;
    std::wstring catalog, output, work, previousDirectory;
    std::wstring eventsHandler = L"ZelDeploymentEventsHandler.dll";
    std::wstring packagerLog = L"PatchPackager.log";
    std::wstring deploymentLog = L"PatchDeployment.log";
    std::wstring packageFile = L"deploy-package.zip";
    std::wstring runtimeDir, packagerDir;
    bool overwritePackagerLog = false, overwriteDeploymentLog = false, preserve = false;
    ScriptedPlatform platform;
};
