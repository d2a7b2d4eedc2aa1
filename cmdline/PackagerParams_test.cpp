#include "PackagerParams.h"

#include <gtest/gtest.h>

#include "LogCapture.h"
#include "TestEnv.h"
#include "Util.h"

namespace {

const GUID kPatch = {0xCA25DBE4, 0x81D5, 0x4467, {0x8D, 0x0B, 0xD4, 0xF0, 0x5B, 0x31, 0xA9, 0x42}};

PackagerParams Make(const std::wstring& catalog, const std::wstring& events = L"events.dll",
                    const std::wstring& runtime = L"", const std::wstring& packager = L"") {
    return PackagerParams(kPatch, 0, catalog, L"C:\\out\\..\\output", events, L".\\p.log", 7, true,
                          L"C:/logs/d.log", -1, false, runtime, packager, L"deploy-package.zip",
                          true);
}

std::vector<std::wstring> ParamsMessages(const LogCapture& capture) {
    std::vector<std::wstring> messages;
    for (const auto& e : capture.Events()) {
        if (e.component == L"Deployment Packager Params") {
            messages.push_back(e.message);
        }
    }
    return messages;
}

TEST(PackagerParams, CopiesLooksUpAndResolves) {
    LogCapture capture;
    TempDir dir;
    const std::wstring before = GetCurrentDirectoryPath();
    SetCurrentDirectoryW(dir.Path().c_str());
    PackagerParams params = Make(L"C:\\catalog\\");
    SetCurrentDirectoryW(before.c_str());

    EXPECT_EQ(memcmp(&params.patchId, &kPatch, sizeof(GUID)), 0);
    EXPECT_EQ(params.languageId, 0x409);
    EXPECT_EQ(params.catalogDir, L"C:\\catalog\\");
    EXPECT_EQ(params.outputDir, L"C:\\output");
    EXPECT_EQ(params.packagerLog, dir.Path() + L"\\p.log");
    EXPECT_EQ(params.packagerLogLevel, 7);
    EXPECT_TRUE(params.overwritePackagerLog);
    EXPECT_EQ(params.deploymentLog, L"C:\\logs\\d.log");
    EXPECT_EQ(params.deploymentLogLevel, -1);
    EXPECT_FALSE(params.overwriteDeploymentLog);
    EXPECT_EQ(params.packageFile, L"deploy-package.zip");  // relative names stay relative
    EXPECT_TRUE(params.preserveTempFiles);
    // Empty paths stay empty, silently.
    EXPECT_EQ(params.runtimeDir, L"");
    EXPECT_EQ(params.packagerDir, L"");
    EXPECT_TRUE(ParamsMessages(capture).empty());
}

TEST(PackagerParams, KeepsTheEventsHandlerVerbatim) {
    LogCapture capture;
    EXPECT_EQ(Make(L"C:\\c", L".\\handler.dll").eventsHandlerDll, L".\\handler.dll");
    EXPECT_EQ(Make(L"C:\\c", L"\\x\\..\\handler.dll").eventsHandlerDll, L"\\x\\..\\handler.dll");
}

TEST(PackagerParams, AFailedResolutionLeavesTheFieldEmptyWithOneReport) {
    LogCapture capture;
    // Too long for any canonical form.
    const std::wstring unresolvable = L"C:\\" + std::wstring(70000, L'x');
    PackagerParams params = Make(unresolvable, L"e.dll", unresolvable, L"C:\\pd");
    EXPECT_EQ(params.catalogDir, L"");
    EXPECT_EQ(params.runtimeDir, L"");
    EXPECT_EQ(params.packagerDir, L"C:\\pd");
    EXPECT_EQ(ParamsMessages(capture), (std::vector<std::wstring>{L"ResolvePathName: failed.",
                                                                  L"ResolvePathName: failed."}));
    EXPECT_EQ(capture.Events().back().level, 1);
}

TEST(PackagerParams, RegionsBecomeTheirLanguages) {
    LogCapture capture;
    PackagerParams german(kPatch, 3, L"", L"", L"", L"", 0, false, L"", 0, false, L"", L"", L"",
                          false);
    EXPECT_EQ(german.languageId, 0x0407);
    PackagerParams british(kPatch, 38, L"", L"", L"", L"", 0, false, L"", 0, false, L"", L"", L"",
                           false);
    EXPECT_EQ(british.languageId, 0x0809);
}

}  // namespace
