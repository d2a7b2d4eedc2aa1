#include "Util.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "LogCapture.h"
#include "TestEnv.h"

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
        EXPECT_TRUE(capture.Events().empty());
        EXPECT_THAT(capture.DebugStrings(), ElementsAre(L"GetNameFromPath: null path specified"));
    }
}

// Plays GetModuleFileNameW for an executable path of `length` characters.
size_t playedLength = 0;
std::vector<DWORD> sizesAsked;
DWORD WINAPI PlayModuleFileName(HMODULE, LPWSTR buffer, DWORD size) {
    sizesAsked.push_back(size);
    const std::wstring path = L"C:\\" + std::wstring(playedLength - 9, L'd') + L"\\a.exe";
    if (path.size() < size) {
        wcscpy(buffer, path.c_str());
        SetLastError(0);
        return static_cast<DWORD>(path.size());
    }
    wmemcpy(buffer, path.c_str(), size - 1);
    buffer[size - 1] = L'\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

DWORD WINAPI FailModuleFileName(HMODULE, LPWSTR, DWORD) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
}

TEST(GetExePath, GrowsBy260UpTo4160Characters) {
    LogCapture capture;
    playedLength = 4159;
    sizesAsked.clear();
    EXPECT_EQ(GetExePath(true, &PlayModuleFileName).size(), 4159u);
    ASSERT_EQ(sizesAsked.size(), 16u);
    EXPECT_EQ(sizesAsked.front(), 260u);
    EXPECT_EQ(sizesAsked.back(), 4160u);
    EXPECT_TRUE(capture.Events().empty());

    playedLength = 4160;
    sizesAsked.clear();
    SetLastError(0);
    EXPECT_EQ(GetExePath(true, &PlayModuleFileName), L"");
    EXPECT_EQ(GetLastError(), 122u);
    EXPECT_EQ(sizesAsked.size(), 16u);
    ASSERT_EQ(capture.Events().size(), 1u);
    EXPECT_EQ(capture.Events()[0].message, L"GetExePath failed. Err = 122");
}

TEST(GetExePath, FailuresGoToTheDebuggerOnlyWhenNotLogging) {
    LogCapture capture;
    SetLastError(0);
    EXPECT_EQ(GetExePath(false, &FailModuleFileName), L"");
    EXPECT_EQ(GetLastError(), 5u);
    EXPECT_TRUE(capture.Events().empty());
    ASSERT_EQ(capture.DebugStrings().size(), 1u);
    EXPECT_THAT(capture.DebugStrings()[0],
                ::testing::EndsWith(L"Util.cpp: GetExePath failed. Err = 5\n"));
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

}  // namespace
