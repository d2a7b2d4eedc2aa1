#include "Util.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include <functional>

#include "LogCapture.h"
#include "TestEnv.h"
#include "UtilInstance.h"

namespace {

using ::testing::ElementsAre;

// A Util platform of the test's own. The program's path: the real one, or one of `played`
// characters (the sizes the queries ask for recorded), or a failure with `pathError`. The path
// library's entries: missing unless given.
class TestUtilPlatform : public UtilPlatform {
  public:
    size_t played = 0;
    DWORD pathError = 0;
    std::vector<DWORD> sizesAsked;
    std::function<HRESULT(PWSTR, size_t)> removeFileSpec;
    std::function<HRESULT(PWSTR, size_t, PCWSTR, ULONG)> canonicalizeEx;

    DWORD Fill(wchar_t* buffer, DWORD size) override {
        sizesAsked.push_back(size);
        if (pathError != 0) {
            SetLastError(pathError);
            return 0;
        }
        if (played == 0) {
            return GetModuleFileNameW(nullptr, buffer, size);
        }
        const std::wstring path = L"C:\\" + std::wstring(played - 9, L'd') + L"\\a.exe";
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
    bool HasRemoveFileSpec() const override { return static_cast<bool>(removeFileSpec); }
    HRESULT RemoveFileSpec(PWSTR path, size_t capacity) override {
        return removeFileSpec(path, capacity);
    }
    bool HasCanonicalizeEx() const override { return static_cast<bool>(canonicalizeEx); }
    HRESULT CanonicalizeEx(PWSTR out, size_t capacity, PCWSTR in, ULONG flags) override {
        return canonicalizeEx(out, capacity, in, flags);
    }
};

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

}  // namespace

namespace {

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

// --- The Util instance and path rewriting ---------------------------------------------------

// A canonicalisation that answers "insufficient buffer" `insufficient` times, recording the
// sizes it is given.
std::function<HRESULT(PWSTR, size_t, PCWSTR, ULONG)> Growing(std::vector<size_t>* sizes,
                                                             int insufficient) {
    return [sizes, insufficient](PWSTR out, size_t size, PCWSTR in, ULONG flags) mutable {
        sizes->push_back(size);
        EXPECT_EQ(flags, 1u);
        if (insufficient-- > 0) {
            return static_cast<HRESULT>(0x8007007A);
        }
        wcsncpy(out, in, size);
        return S_OK;
    };
}

// Runs `check` on the process instance (with the platform's path entries) and on an
// instance without them (the shell fallbacks).
template <typename Check>
void ForBoundAndFallback(Check check) {
    check(*Util::Instance());
    TestUtilPlatform none;
    Util fallback(none);
    check(fallback);
}

TEST(CanonicalizeFileSpec, SlashAndDoubledBackslashPasses) {
    LogCapture capture;
    ForBoundAndFallback([&](Util& util) {
        EXPECT_EQ(util.CanonicalizeFileSpec(L"C:/a/b/../c"), L"C:\\a\\c");
        EXPECT_EQ(util.CanonicalizeFileSpec(L"C:\\a\\\\b"), L"C:\\a\\b");
        EXPECT_EQ(util.CanonicalizeFileSpec(L"\\\\server\\share\\x"), L"\\\\server\\share\\x");
        EXPECT_EQ(util.CanonicalizeFileSpec(L"logs\\\\p.log"), L"logs\\p.log");
    });
}

TEST(CanonicalizeFileSpec, NullPathIsReported) {
    LogCapture capture;
    SetLastError(0);
    EXPECT_EQ(CanonicalizeFileSpec(nullptr), L"");
    EXPECT_EQ(GetLastError(), 87u);
    EXPECT_EQ(capture.Messages().back(), L"CanonicalizeFileSpec: null path specified");
}

TEST(CanonicalizeFileSpec, GrowsThePlatformBufferOnInsufficientBuffer) {
    LogCapture capture;
    std::vector<size_t> sizes;
    TestUtilPlatform platform;
    platform.canonicalizeEx = Growing(&sizes, 3);
    Util util(platform);
    EXPECT_EQ(util.CanonicalizeFileSpec(L"C:\\x"), L"C:\\x");
    EXPECT_EQ(sizes, (std::vector<size_t>{265, 530, 1060, 2120}));

    // The buffer starts at the path's length plus 5 for long paths, and stops growing below
    // 65536 characters.
    sizes.clear();
    platform.canonicalizeEx = Growing(&sizes, 100);
    const std::wstring path = L"C:\\" + std::wstring(297, L'p');
    SetLastError(0);
    EXPECT_EQ(util.CanonicalizeFileSpec(path.c_str()), L"");
    EXPECT_EQ(sizes, (std::vector<size_t>{305, 610, 1220, 2440, 4880, 9760, 19520, 39040}));
    EXPECT_EQ(GetLastError(), 0x8007007Au);
    EXPECT_EQ(capture.Messages().back(),
              L"CanonicalizeFileSpec failed, err=-2147024774, path=" + path);
}

TEST(CanonicalizeFileSpec, AHardFailureIsReportedWithTheCallersPath) {
    LogCapture capture;
    TestUtilPlatform platform;
    platform.canonicalizeEx = [](PWSTR, size_t, PCWSTR, ULONG) { return E_INVALIDARG; };
    Util util(platform);
    EXPECT_EQ(util.CanonicalizeFileSpec(L"C:/a//b"), L"");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));
    EXPECT_EQ(
        capture.Messages(),
        std::vector<std::wstring>{L"CanonicalizeFileSpec failed, err=-2147024809, path=C:/a//b"});
}

TEST(CanonicalizeFileSpec, WithoutTheNewEntryLongPrefixedPathsAreSkipped) {
    LogCapture capture;
    TestUtilPlatform none;
    Util util(none);
    const std::wstring tail(290, L'q');
    SetLastError(5);
    EXPECT_EQ(util.CanonicalizeFileSpec((L"\\\\?\\C:/x\\\\" + tail).c_str()),
              L"\\\\?\\C:\\x\\" + tail);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(capture.Messages(),
              std::vector<std::wstring>{L"PathCanonicalize skipped for long path"});
}

std::wstring RemovedSpec(Util& util, const std::wstring& path, size_t capacity) {
    std::wstring buffer = path;
    buffer.resize(std::max(capacity, path.size() + 1), L'\0');
    util.RemoveFileSpec(buffer.data(), capacity);
    return std::wstring(buffer.c_str());
}

TEST(RemoveFileSpec, FallbacksAndManualStrip) {
    LogCapture capture;
    TestUtilPlatform none;
    Util util(none);
    // Both begin with two backslashes: stripped by hand whatever the capacity.
    EXPECT_EQ(RemovedSpec(util, L"\\\\server\\share\\file", 100), L"\\\\server\\share");
    EXPECT_EQ(RemovedSpec(util, L"\\\\?\\C:\\file", 100), L"\\\\?\\C:");
    EXPECT_EQ(RemovedSpec(util, L"\\\\?\\C:\\file", 4097), L"\\\\?\\C:");
    // Capacity of 260 or more: by hand.
    EXPECT_EQ(RemovedSpec(util, L"\\file", 260), L"");
    EXPECT_EQ(RemovedSpec(util, L"noseparator", 260), L"noseparator");
    EXPECT_EQ(RemovedSpec(util, L"C:/a/b", 300), L"C:/a");
    // Below 260: the shell function.
    EXPECT_EQ(RemovedSpec(util, L"C:\\dir\\file.txt", 100), L"C:\\dir");
    EXPECT_EQ(RemovedSpec(util, L"C:\\file.txt", 100), L"C:\\");
    EXPECT_TRUE(capture.Events().empty());
}

TEST(RemoveFileSpec, ReportsNullPathsAndPlatformFailures) {
    LogCapture capture;
    TestUtilPlatform platform;
    platform.removeFileSpec = [](PWSTR, size_t) { return E_INVALIDARG; };
    Util failing(platform);
    std::wstring buffer = L"C:\\a\\b";
    buffer.push_back(L'\0');
    SetLastError(0);
    EXPECT_FALSE(failing.RemoveFileSpec(buffer.data(), buffer.size()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));
    EXPECT_EQ(std::wstring(buffer.c_str()), L"C:\\a\\b");
    wchar_t empty[1] = {L'\0'};
    EXPECT_FALSE(failing.RemoveFileSpec(empty, 1));
    EXPECT_EQ(GetLastError(), 87u);
    EXPECT_EQ(capture.Messages(),
              (std::vector<std::wstring>{L"RemoveFileSpec failed, err=-2147024809, path=C:\\a\\b",
                                         L"RemoveFileSpec: null path specified"}));
}

TEST(RemoveFileSpec, UsesThePlatformEntryWhenBound) {
    LogCapture capture;
    Util* util = Util::Instance();
    ASSERT_TRUE(util->Platform().HasRemoveFileSpec());
    EXPECT_EQ(RemovedSpec(*util, L"C:\\dir\\file.txt", 20), L"C:\\dir");
    EXPECT_EQ(RemovedSpec(*util, L"C:\\file.txt", 20), L"C:\\");
}

TEST(GetExeDir, IsTheExecutablesFolderAndEmptyWith87WhenUnknown) {
    LogCapture capture;
    EXPECT_EQ(GetExeDir(), BinDir());
    capture.Clear();
    SetLastError(0);
    TestUtilPlatform failing;
    failing.pathError = ERROR_ACCESS_DENIED;
    Util unknown(failing);
    EXPECT_EQ(unknown.GetExeDir(), L"");
    EXPECT_EQ(GetLastError(), 87u);
    EXPECT_EQ(capture.Messages(),
              (std::vector<std::wstring>{L"GetExePath failed. Err = 5",
                                         L"RemoveFileSpec: null path specified"}));
}

TEST(ResolvePathName, WidensOnlyDotAndBackslashNames) {
    LogCapture capture;
    TempDir dir;
    const std::wstring before = GetCurrentDirectoryPath();
    ASSERT_TRUE(SetCurrentDirectoryW(dir.Path().c_str()));
    ForBoundAndFallback([&](Util& util) {
        EXPECT_EQ(util.ResolvePathName(L".\\x"), dir.Path() + L"\\x");
        EXPECT_EQ(util.ResolvePathName(L"x\\y"), L"x\\y");
        EXPECT_EQ(util.ResolvePathName(L"deploy-package.zip"), L"deploy-package.zip");
        EXPECT_EQ(util.ResolvePathName(L"\\x"), dir.Path().substr(0, 2) + L"\\x");
        EXPECT_EQ(util.ResolvePathName(L"C:\\a\\..\\b"), L"C:\\b");
        EXPECT_EQ(util.ResolvePathName(L"..\\up"),
                  dir.Path().substr(0, dir.Path().find_last_of(L'\\')) + L"\\up");
    });
    SetCurrentDirectoryW(before.c_str());
    SetLastError(0);
    EXPECT_EQ(ResolvePathName(L""), L"");
    EXPECT_EQ(GetLastError(), 87u);
}

TEST(IsValidPathForFile, TestsTheFolderOfFullPathsOnly) {
    LogCapture capture;
    TempDir dir;
    ForBoundAndFallback([&](Util& util) {
        capture.Clear();
        SetLastError(5);
        EXPECT_TRUE(util.IsValidPathForFile(L"logs\\p.log"));
        EXPECT_EQ(GetLastError(), 0u);
        EXPECT_TRUE(util.IsValidPathForFile((dir / L"p.log").c_str()));
        EXPECT_TRUE(util.IsValidPathForFile(L"C:\\p.log"));
        const std::wstring missing = dir / L"missing\\p.log";
        EXPECT_FALSE(util.IsValidPathForFile(missing.c_str()));
        EXPECT_EQ(capture.Messages(),
                  std::vector<std::wstring>{L"invalid path for file = " + missing});
        SetLastError(0);
        EXPECT_TRUE(util.IsValidPathForFile(nullptr));
        EXPECT_EQ(GetLastError(), 87u);
    });
}

TEST(IsValidPathForFile, ChecksPathsLongerThan4096CharactersWhole) {
    LogCapture capture;
    TempDir dir;
    // The folder of this path is a 4200-character name that does not exist; the path's first
    // 4096 characters would instead end inside that name and leave the existing folder.
    const std::wstring inMissing = dir.Path() + L"\\" + std::wstring(4200, L'm') + L"\\p.log";
    EXPECT_FALSE(IsValidPathForFile(inMissing.c_str()));
    // The report itself is cut at the logger's 4094 characters.
    EXPECT_EQ(capture.Messages().back(), (L"invalid path for file = " + inMissing).substr(0, 4094));
    const std::wstring inExisting = dir.Path() + L"\\" + std::wstring(4200, L'f');
    EXPECT_TRUE(IsValidPathForFile(inExisting.c_str()));
}

// That "Init Util library" is reported once, at the first operation that needs the instance,
// is seen from outside, in the line sequence of a whole run (Program tests).
TEST(UtilInstance, IsOneInstanceWithBothPathEntriesBound) {
    Util* first = Util::Instance();
    EXPECT_EQ(Util::Instance(), first);
    EXPECT_TRUE(first->Platform().HasRemoveFileSpec());
    EXPECT_TRUE(first->Platform().HasCanonicalizeEx());
}

}  // namespace

namespace {

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
