#include "TemporaryPackage.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <vector>

#include "TestEnv.h"
#include "WinResources.h"

namespace {

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(TemporaryPackage, RunsStartedTogetherGetNamesOfTheirOwn) {
    TempDir dir;
    // Created within the same clock tick, so their first choices of name collide.
    std::vector<std::unique_ptr<TemporaryPackage>> packages;
    std::set<std::wstring> names;
    for (int i = 0; i < 20; ++i) {
        packages.push_back(std::make_unique<TemporaryPackage>());
        ASSERT_EQ(packages.back()->Create(dir.Path()), 0u) << i;
        names.insert(packages.back()->Path());
    }
    EXPECT_EQ(names.size(), 20u);
    // Each is held: a sweep leaves every one of them.
    EXPECT_EQ(TemporaryPackage::SweepStale(dir.Path()), 0);
    for (const std::wstring& name : names) {
        EXPECT_TRUE(Exists(name));
    }
    packages.clear();  // discarded, so removed
    for (const std::wstring& name : names) {
        EXPECT_FALSE(Exists(name));
    }
}

// A name another run holds, or one a file already has, is passed over for the next, also
// across the last name back to the first.
TEST(TemporaryPackage, ANameTakenIsPassedOverForTheNext) {
    TempDir dir;
    WriteTextFile(dir / L"kqpFFFF.tmp", "a file of that name");
    TemporaryPackage held;
    ASSERT_EQ(held.CreateFrom(dir.Path(), 0xFFFE), 0u);
    EXPECT_EQ(held.Path(), dir / L"kqpFFFE.tmp");
    TemporaryPackage next;
    ASSERT_EQ(next.CreateFrom(dir.Path(), 0xFFFE), 0u);
    EXPECT_EQ(next.Path(), dir / L"kqp0000.tmp");
}

// A name whose file is being deleted (another run's package discarded a moment ago) is passed
// over too, not taken for a failure. Windows refuses it as access denied, the busy case;
// Wine says the file exists.
TEST(TemporaryPackage, ANameBeingDeletedIsPassedOverForTheNext) {
    TempDir dir;
    const std::wstring dying = dir / L"kqp1234.tmp";
    WriteTextFile(dying, "discarded");
    const UniqueFile held(CreateFileW(dying.c_str(), DELETE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    ASSERT_TRUE(held);
    ASSERT_TRUE(DeleteFileW(dying.c_str()));
    TemporaryPackage next;
    ASSERT_EQ(next.CreateFrom(dir.Path(), 0x1234), 0u);
    EXPECT_EQ(next.Path(), dir / L"kqp1235.tmp");
}

TEST(TemporaryPackage, OnlyItsOwnNamePatternIsSwept) {
    TempDir dir;
    for (const wchar_t* name : {L"kqp1.tmp", L"kqpABCD.tmp", L"KQPfe0.TMP", L"kqp12345.tmp",
                                L"kqpXYZ.tmp", L"kqp.tmp", L"xkqp1.tmp", L"kqp1.tmp.bak"}) {
        WriteTextFile(dir / name, "x");
    }
    CreateDirectoryW((dir / L"kqp2.tmp").c_str(), nullptr);
    EXPECT_EQ(TemporaryPackage::SweepStale(dir.Path()), 3);
    for (const wchar_t* kept :
         {L"kqp12345.tmp", L"kqpXYZ.tmp", L"kqp.tmp", L"xkqp1.tmp", L"kqp1.tmp.bak", L"kqp2.tmp"}) {
        EXPECT_TRUE(Exists(dir / kept)) << ToUtf8(kept);
    }
}

TEST(TemporaryPackage, AFolderGivenWithItsSeparatorIsNotGivenASecond) {
    TempDir dir;
    for (const std::wstring& folder : {dir.Path() + L"\\", dir.Path() + L"/"}) {
        TemporaryPackage package;
        ASSERT_EQ(package.Create(folder), 0u);
        EXPECT_EQ(package.Path().rfind(folder + L"kqp", 0), 0u) << ToUtf8(package.Path());
    }
}

TEST(TemporaryPackage, AMissingFolderIsReportedAsSuchAtOnce) {
    TempDir dir;
    TemporaryPackage package;
    EXPECT_EQ(package.Create(dir / L"absent"), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_TRUE(package.Path().empty());
}

TEST(TemporaryPackage, RenamedOverTheTargetItHoldsNothingMore) {
    TempDir dir;
    WriteTextFile(dir / L"target.zip", "older");
    TemporaryPackage package;
    ASSERT_EQ(package.Create(dir.Path()), 0u);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(package.Handle(), "newer", 5, &written, nullptr));
    const std::wstring temporary = package.Path();
    EXPECT_EQ(package.RenameOver(dir / L"target.zip"), 0u);
    EXPECT_FALSE(Exists(temporary));
    package.Discard(true);  // after the rename: nothing to discard
    EXPECT_EQ(ReadTextFile(dir / L"target.zip"), "newer");
}

}  // namespace
