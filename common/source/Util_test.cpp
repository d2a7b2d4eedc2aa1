#include "Util.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include <functional>

#include "LogCapture.h"
#include "TestEnv.h"
#include "UtilTesting.h"

namespace {

using ::testing::ElementsAre;

TEST(PrefixEqual, ComparesOverTheShorterOfNineCharacters) {
    EXPECT_TRUE(PrefixEqual(L"\\", L"\\\\"));
    EXPECT_TRUE(PrefixEqual(L"ab", L"abc"));
    EXPECT_FALSE(PrefixEqual(L"abc", L"abd"));
    EXPECT_TRUE(PrefixEqual(L"anything", L""));
    EXPECT_TRUE(PrefixEqual(L"anything", nullptr));
    EXPECT_TRUE(PrefixEqual(nullptr, L"x"));
    EXPECT_TRUE(PrefixEqual(L"123456789-tail", L"123456789+other"));
    EXPECT_FALSE(PrefixEqual(L"12345678X", L"123456789"));
    EXPECT_FALSE(PrefixEqual(L"Ab", L"ab"));
}

TEST(IsFullPath, DrivePathsAndDoubleBackslashes) {
    for (const wchar_t* full : {L"C:\\x", L"C:/x", L"\\\\server\\share", L"C:", L"\\", L"1:\\"}) {
        EXPECT_TRUE(IsFullPath(full)) << testing::PrintToString(std::wstring(full));
    }
    for (const wchar_t* relative : {L"\\x", L"C:x", L"x", L"/x", L"//server", L"", L".\\x"}) {
        EXPECT_FALSE(IsFullPath(relative)) << testing::PrintToString(std::wstring(relative));
    }
    EXPECT_FALSE(IsFullPath(nullptr));
}

TEST(GetNameFromPath, TakesTheLastElement) {
    EXPECT_EQ(GetNameFromPath(L"C:\\dir\\file.txt", true, true), L"file");
    EXPECT_EQ(GetNameFromPath(L"C:\\dir\\file.txt", false, true), L"file.txt");
    EXPECT_EQ(GetNameFromPath(L"C:\\d.ir\\file", true, true), L"file");
    EXPECT_EQ(GetNameFromPath(L"dir/archive.tar.gz", true, true), L"archive.tar");
    EXPECT_EQ(GetNameFromPath(L".profile", true, true), L"");
    EXPECT_EQ(GetNameFromPath(L"C:\\dir\\", false, true), L"");
    EXPECT_EQ(GetNameFromPath(L"bare", false, true), L"bare");
    EXPECT_EQ(GetNameFromPath(L"a/b\\c", false, true), L"c");
}

// OutputDebugString may change the last-error code; what reports a failure to it must set
// the failure's code afterwards.
class ClobberingDebugOutput : public RecordingLoggerPlatform {
  public:
    void Wide(const wchar_t* text) override {
        RecordingLoggerPlatform::Wide(text);
        SetLastError(ERROR_SUCCESS);
    }
    void Narrow(const char* text) override {
        RecordingLoggerPlatform::Narrow(text);
        SetLastError(ERROR_SUCCESS);
    }
};

TEST(GetNameFromPath, ANullPathIsReportedWhereAsked) {
    {
        LogCapture capture;
        SetLastError(0);
        EXPECT_EQ(GetNameFromPath(nullptr, false, true), L"");
        EXPECT_EQ(GetLastError(), 87u);
        ASSERT_EQ(capture.Events().size(), 1u);
        EXPECT_EQ(capture.Events()[0].level, 8);
        EXPECT_EQ(capture.Events()[0].component, L"Util class");
        EXPECT_EQ(capture.Events()[0].message, L"GetNameFromPath: null path specified");
    }
    {
        LogCapture capture;
        SetLastError(0);
        EXPECT_EQ(GetNameFromPath(L"", false, false), L"");
        EXPECT_EQ(GetLastError(), 87u);
        EXPECT_TRUE(capture.Events().empty()) << "never through the logger";
        // What it writes to the debugger output instead.
        SetLastError(0);
        ClobberingDebugOutput debugOutput;
        EXPECT_EQ(NameFromPathWithoutLogger(L"", false, debugOutput), L"");
        EXPECT_EQ(GetLastError(), 87u);
        EXPECT_THAT(debugOutput.debugStrings, ElementsAre(L"GetNameFromPath: null path specified"));
    }
}

TEST(GetExePath, GrowsBy260UpTo4160Characters) {
    TestUtilPlatform fits;
    fits.played = 4159;
    EXPECT_EQ(ExecutablePath(fits).text.size(), 4159u);
    ASSERT_EQ(fits.sizesAsked.size(), 16u);
    EXPECT_EQ(fits.sizesAsked.front(), 260u);
    EXPECT_EQ(fits.sizesAsked.back(), 4160u);

    TestUtilPlatform tooLong;
    tooLong.played = 4160;
    const QueryAnswer answer = ExecutablePath(tooLong);
    EXPECT_FALSE(answer.succeeded);
    EXPECT_EQ(answer.error, 122u);
    EXPECT_EQ(tooLong.sizesAsked.size(), 16u);
}

TEST(GetExePath, AFailureIsReportedByTheUtilAndOnlyToTheDebuggerWithoutTheLogger) {
    LogCapture capture;
    TestUtilPlatform tooLong;
    tooLong.played = 4160;
    Util util(tooLong);
    SetLastError(0);
    EXPECT_EQ(util.GetExeDir(), L"");
    EXPECT_EQ(capture.Messages().front(), L"GetExePath failed. Err = 122");

    capture.Clear();
    SetLastError(0);
    TestUtilPlatform failing;
    failing.pathError = ERROR_ACCESS_DENIED;
    ClobberingDebugOutput debugOutput;
    EXPECT_EQ(ExecutablePathWithoutLogger(failing, debugOutput), L"");
    EXPECT_EQ(GetLastError(), 5u);
    EXPECT_TRUE(capture.Events().empty());
    ASSERT_EQ(debugOutput.debugStrings.size(), 1u);
    EXPECT_THAT(debugOutput.debugStrings[0],
                ::testing::EndsWith(L"Queries.cpp: GetExePath failed. Err = 5\n"));
}

TEST(GetExePath, FindsTheRunningExecutable) {
    const std::wstring path = GetExePath(true);
    EXPECT_TRUE(IsFullPath(path.c_str()));
    EXPECT_EQ(GetNameFromPath(path.c_str(), false, true), L"util_test.exe");
}

TEST(GetCurrentDirectoryPath, AnswersWhatWasSet) {
    TempDir dir;
    const std::wstring before = GetCurrentDirectoryPath();
    ASSERT_TRUE(SetCurrentDirectoryW(dir.Path().c_str()));
    EXPECT_EQ(GetCurrentDirectoryPath(), dir.Path());
    SetCurrentDirectoryW(before.c_str());
}

TEST(PathExists, FilesFoldersAndMissingPaths) {
    TempDir dir;
    ASSERT_TRUE(WriteTextFile(dir / L"f.txt", "x"));
    EXPECT_TRUE(PathExists((dir / L"f.txt").c_str()));
    EXPECT_TRUE(PathExists(dir.Path().c_str()));
    SetLastError(0);
    EXPECT_FALSE(PathExists((dir / L"missing.txt").c_str()));
    EXPECT_EQ(GetLastError(), 2u);
    SetLastError(0);
    EXPECT_FALSE(PathExists(L""));
    EXPECT_EQ(GetLastError(), 87u);
    EXPECT_FALSE(PathExists(nullptr));
}

TEST(PathExists, QueriesLongDrivePathsWithThePrefix) {
    TempDir dir;
    std::wstring path = dir.Path();
    while (path.size() < 300) {
        path += L"\\" + std::wstring(50, L'n');
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + path).c_str(), nullptr));
    }
    ASSERT_TRUE(WriteTextFile(L"\\\\?\\" + path + L"\\f", "x"));
    EXPECT_TRUE(PathExists(path.c_str()));
    EXPECT_TRUE(PathExists((path + L"\\f").c_str()));
    EXPECT_FALSE(PathExists((path + L"\\g").c_str()));
    // Already prefixed: used as it is.
    EXPECT_TRUE(PathExists((L"\\\\?\\" + path).c_str()));
}

TEST(IsReadableMemory, CoversCommittedMemoryOnly) {
    std::vector<char> heap(100);
    EXPECT_TRUE(IsReadableMemory(heap.data(), heap.size()));
    EXPECT_FALSE(IsReadableMemory(nullptr, 1));
    void* reserved = VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_READWRITE);
    void* page = VirtualAlloc(reserved, 4096, MEM_COMMIT, PAGE_READWRITE);
    ASSERT_NE(page, nullptr);
    EXPECT_TRUE(IsReadableMemory(page, 4096));
    EXPECT_FALSE(IsReadableMemory(page, 4097));  // runs into reserved, uncommitted memory
    DWORD old = 0;
    VirtualProtect(page, 4096, PAGE_NOACCESS, &old);
    EXPECT_FALSE(IsReadableMemory(page, 1));
    VirtualFree(reserved, 0, MEM_RELEASE);
    EXPECT_FALSE(IsReadableMemory(heap.data(), UINT64_MAX));
}

}  // namespace
