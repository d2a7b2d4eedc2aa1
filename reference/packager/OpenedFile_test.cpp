#include "OpenedFile.h"

#include <gtest/gtest.h>

#include "TestEnv.h"
#include "Text.h"
#include "WinResources.h"

namespace {

// Below a folder means inside it, by whole steps, letter case aside: a sibling whose name
// begins with the folder's is outside, and so is the folder itself.
TEST(OpenedFile, LiesUnderTakesWholeStepsOfTheFolder) {
    const std::wstring work = L"\\\\?\\Z:\\runs\\work";
    EXPECT_TRUE(LiesUnder(work + L"\\vendor\\a.msp", work));
    EXPECT_TRUE(LiesUnder(L"\\\\?\\z:\\RUNS\\Work\\a.msp", work));
    EXPECT_FALSE(LiesUnder(L"\\\\?\\Z:\\runs\\workshop\\a.msp", work));
    EXPECT_FALSE(LiesUnder(L"\\\\?\\Z:\\runs\\work2", work));
    EXPECT_FALSE(LiesUnder(work, work));
    EXPECT_FALSE(LiesUnder(work + L"\\", work));
    EXPECT_FALSE(LiesUnder(L"\\\\?\\Z:\\elsewhere\\a.msp", work));
    // A drive's root ends in its separator already.
    EXPECT_TRUE(LiesUnder(L"\\\\?\\C:\\a.msp", L"\\\\?\\C:\\"));
    EXPECT_FALSE(LiesUnder(L"\\\\?\\D:\\a.msp", L"\\\\?\\C:\\"));
}

// Two names of one file have one identity; a file's final path is where it is.
TEST(OpenedFile, FactsAndFinalPathOfAnOpenFile) {
    TempDir dir;
    WriteTextFile(dir / L"a.msp", "a");
    ASSERT_TRUE(CreateHardLinkW((dir / L"b.msp").c_str(), (dir / L"a.msp").c_str(), nullptr));
    auto open = [](const std::wstring& path) {
        return UniqueFile(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    };
    const UniqueFile a = open(dir / L"a.msp."), b = open(dir / L"b.msp");
    HandleFacts first, second;
    DWORD error = 0;
    ASSERT_TRUE(FactsOf(a.Get(), &first, &error));
    ASSERT_TRUE(FactsOf(b.Get(), &second, &error));
    EXPECT_EQ(first.identity, second.identity);
    EXPECT_EQ(first.links, 2u);
    const QueryAnswer folder = FinalFolderPath(dir.Path());
    ASSERT_TRUE(folder.succeeded);
    const QueryAnswer final = FinalPathOf(a.Get());
    ASSERT_TRUE(final.succeeded);
    EXPECT_TRUE(SamePathText(final.text, folder.text + L"\\a.msp")) << ToUtf8(final.text);
    EXPECT_TRUE(LiesUnder(final.text, folder.text));
}

}  // namespace
