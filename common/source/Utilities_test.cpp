// The file, environment and identifier utilities.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "LogCapture.h"
#include "TestEnv.h"
#include "Util.h"
#include "UtilTesting.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// --- File, environment and identifier utilities ------------------------------------------

TEST(FileCopy, ReplacesAnExistingDestination) {
    LogCapture capture;
    TempDir dir;
    ASSERT_TRUE(WriteTextFile(dir / L"a", "new"));
    ASSERT_TRUE(WriteTextFile(dir / L"b", "old content"));
    EXPECT_TRUE(FileCopy((dir / L"a").c_str(), (dir / L"b").c_str()));
    EXPECT_EQ(ReadTextFile(dir / L"b"), "new");
    EXPECT_TRUE(capture.Events().empty());
}

TEST(FileCopy, ReportsEachFailureWithItsCode) {
    LogCapture capture;
    TempDir dir;
    SetLastError(0);
    EXPECT_FALSE(FileCopy(L"", L"never looked at"));
    EXPECT_EQ(GetLastError(), 5u);
    EXPECT_FALSE(FileCopy((dir / L"a").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), 5u);
    const std::wstring missing = dir / L"missing";
    const std::wstring target = dir / L"t";
    EXPECT_FALSE(FileCopy(missing.c_str(), target.c_str()));
    EXPECT_EQ(GetLastError(), 2u);
    EXPECT_EQ(capture.Messages(),
              (std::vector<std::wstring>{
                  L"FileCopy: null from-path specified", L"FileCopy: null to-path specified",
                  L"copy from " + missing + L" to " + target + L". Err = 2"}));
    for (const auto& e : capture.Events()) {
        EXPECT_EQ(e.level, 8);
        EXPECT_EQ(e.component, L"Util class");
    }
}

TEST(DeleteFilePath, MissingFilesAreAlreadyGone) {
    LogCapture capture;
    TempDir dir;
    EXPECT_TRUE(DeleteFilePath((dir / L"missing").c_str()));
    EXPECT_TRUE(DeleteFilePath(L""));
    EXPECT_EQ(GetLastError(), 87u);
    ASSERT_TRUE(WriteTextFile(dir / L"f", "x"));
    EXPECT_TRUE(DeleteFilePath((dir / L"f").c_str()));
    EXPECT_FALSE(PathExists((dir / L"f").c_str()));
    EXPECT_TRUE(capture.Events().empty());
}

TEST(DeleteFilePath, AReadOnlyFileIsReportedWithTheTrailingBlank) {
    LogCapture capture;
    TempDir dir;
    const std::wstring file = dir / L"ro";
    ASSERT_TRUE(WriteTextFile(file, "x"));
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
    SetLastError(0);
    EXPECT_FALSE(DeleteFilePath(file.c_str()));
    EXPECT_EQ(GetLastError(), 5u);
    EXPECT_EQ(capture.Messages(),
              std::vector<std::wstring>{L"DeleteFile failed. File = " + file + L", Err = 5 "});
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(EnvVar, SetReadAndRemove) {
    LogCapture capture;
    const std::wstring longValue(30000, L'v');
    ASSERT_TRUE(SetEnvVar(L"DP_TEST_VAR", longValue.c_str()));
    EXPECT_EQ(GetEnvVar(L"DP_TEST_VAR"), longValue);
    ASSERT_TRUE(SetEnvVar(L"DP_TEST_VAR", nullptr));
    SetLastError(0);
    EXPECT_EQ(GetEnvVar(L"DP_TEST_VAR"), L"");
    EXPECT_EQ(GetLastError(), 203u);
    // Defined but empty: not a failure, whatever error code an earlier call left behind.
    ASSERT_TRUE(SetEnvVar(L"DP_TEST_VAR", L""));
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(GetEnvVar(L"DP_TEST_VAR"), L"");
    EXPECT_EQ(GetLastError(), 0u);
    SetEnvVar(L"DP_TEST_VAR", nullptr);
    EXPECT_TRUE(capture.Events().empty());
}

TEST(EnvVar, EmptyNamesAreRefused) {
    LogCapture capture;
    SetLastError(0);
    EXPECT_EQ(GetEnvVar(nullptr), L"");
    EXPECT_EQ(GetLastError(), 87u);
    EXPECT_FALSE(SetEnvVar(L"", L"x"));
    EXPECT_EQ(GetLastError(), 87u);
    EXPECT_EQ(capture.Messages(),
              (std::vector<std::wstring>{L"Try to get env.var with null name",
                                         L"Try to set env.var with null name"}));
    EXPECT_EQ(capture.Events()[1].component, L"Util class");
}

TEST(EnvVar, ASetFailureReportsBothMessages) {
    LogCapture capture;
    // "=" cannot stand inside a variable name.
    EXPECT_FALSE(SetEnvVar(L"A=B", L"v"));
    const DWORD code = GetLastError();
    EXPECT_NE(code, 0u);
    EXPECT_EQ(capture.Messages(),
              (std::vector<std::wstring>{
                  L"Try to set env.var A=B=v",
                  L"SetEnvironmentVariable failed. Err = " + std::to_wstring(code)}));
}

TEST(ParseUuid, BracedAndUnbracedFormsGiveTheSameGuid) {
    LogCapture capture;
    GUID braced{};
    GUID plain{};
    ASSERT_TRUE(ParseUuid(L"{CA25DBE4-81D5-4467-8D0B-D4F05B31A942}", &braced));
    ASSERT_TRUE(ParseUuid(L"ca25dbe4-81d5-4467-8d0b-d4f05b31a942", &plain));
    EXPECT_EQ(memcmp(&braced, &plain, sizeof(GUID)), 0);
    EXPECT_EQ(braced.Data1, 0xCA25DBE4u);
    EXPECT_EQ(braced.Data4[7], 0x42);
    EXPECT_TRUE(capture.Events().empty());
}

TEST(ParseUuid, MalformedTextFailsWithTheConversionsCode) {
    LogCapture capture;
    GUID guid{};
    SetLastError(0);
    EXPECT_FALSE(ParseUuid(L"{CA25DBE4-81D5-4467-8D0B-D4F05B31A942", &guid));
    EXPECT_NE(GetLastError(), 0u);
    EXPECT_FALSE(ParseUuid(L"not-a-guid", &guid));
    EXPECT_EQ(GetLastError(), 1705u);  // RPC_S_INVALID_STRING_UUID
    EXPECT_TRUE(capture.Events().empty());
    EXPECT_FALSE(ParseUuid(L"", &guid));
    EXPECT_EQ(GetLastError(), 87u);
    EXPECT_EQ(capture.Messages(), std::vector<std::wstring>{L"Unable to parse null UUID string."});
}

}  // namespace
