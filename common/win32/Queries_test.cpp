#include "Queries.h"

#include <gtest/gtest.h>

namespace {

// A path splits at its last separator of either kind and joins back with one; a drive's root
// keeps its separator, so that the folder is still the root and not the drive's current one.
TEST(Queries, PathsSplitAndJoinAtOneSeparator) {
    for (const wchar_t* path : {L"C:\\out\\a.zip", L"C:\\a.zip", L"out/a.zip", L"\\a.zip"}) {
        const FolderAndName split = SplitPath(path);
        EXPECT_EQ(InFolder(split.folder, split.name), path);
        EXPECT_EQ(split.name, L"a.zip");
    }
    EXPECT_EQ(SplitPath(L"C:\\a.zip").folder, L"C:\\");
    EXPECT_EQ(SplitPath(L"C:\\out/x\\a.zip").folder, L"C:\\out/x\\");
    EXPECT_EQ(SplitPath(L"a.zip").folder, L".\\");
    EXPECT_EQ(InFolder(L"C:\\out", L"a.zip"), L"C:\\out\\a.zip");
    EXPECT_EQ(InFolder(L"out/", L"a.zip"), L"out/a.zip");
}

}  // namespace
