// The Util instance and path rewriting: the platform's path entries and their fallbacks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "LogCapture.h"
#include "TestEnv.h"
#include "Util.h"
#include "UtilTesting.h"

namespace {

// What a failed call left: the thread's last error, and every message in order.
void ExpectReported(const LogCapture& capture, DWORD error,
                    const std::vector<std::wstring>& messages) {
    EXPECT_EQ(GetLastError(), error);
    EXPECT_EQ(capture.Messages(), messages);
}

using ::testing::ElementsAre;
using ::testing::HasSubstr;

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
    ExpectReported(capture, 87,
                   {L"RemoveFileSpec failed, err=-2147024809, path=C:\\a\\b",
                    L"RemoveFileSpec: null path specified"});
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
    ExpectReported(capture, 87,
                   {L"GetExePath failed. Err = 5", L"RemoveFileSpec: null path specified"});
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
