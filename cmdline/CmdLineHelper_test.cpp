#include "CmdLineHelper.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

namespace {

// Builds a store from the arguments after the program path.
struct Store {
    explicit Store(std::initializer_list<const wchar_t*> args) {
        argv.push_back(L"C:\\bin\\DeploymentPackager.exe");
        argv.insert(argv.end(), args.begin(), args.end());
    }
    CmdLineHelper Make() const { return CmdLineHelper(static_cast<int>(argv.size()), argv.data()); }
    std::vector<const wchar_t*> argv;
};

TEST(CmdLineHelper, EmptyStoresAnswerWithDefaults) {
    const wchar_t* only[] = {L"prog.exe"};
    for (int count : {0, 1}) {
        CmdLineHelper store(count, only);
        EXPECT_TRUE(store.Arguments().empty());
        EXPECT_FALSE(store.IsPresent(L"p"));
        EXPECT_EQ(store.GetValue(L"p", L"dflt"), L"dflt");
        EXPECT_EQ(store.GetInt64(L"r", -5), -5);
    }
}

TEST(CmdLineHelper, KeepsArgumentsVerbatim) {
    auto store = Store({L" -p ", L"-p=X", L"/c:Y", L""}).Make();
    ASSERT_EQ(store.Arguments().size(), 4u);
    EXPECT_EQ(store.Arguments()[0], L" -p ");
    EXPECT_EQ(store.Arguments()[3], L"");
    // Neither "=" nor ":" splits an argument, and a padded spelling is not the option.
    EXPECT_FALSE(store.IsPresent(L"p"));
    EXPECT_FALSE(store.IsPresent(L"c"));
}

TEST(CmdLineHelper, BuildsEightFormsInLookupOrder) {
    CmdLineHelper store(0, nullptr);
    store.BuildNameForms(L"sf");
    const std::vector<std::wstring> expected = {L"sf", L"/sf", L"-sf", L"--sf",
                                                L"SF", L"/SF", L"-SF", L"--SF"};
    EXPECT_EQ(store.NameForms(), expected);
    store.BuildNameForms(L"p");
    EXPECT_EQ(store.NameForms().size(), 8u);
    EXPECT_EQ(store.NameForms()[0], L"p");
}

TEST(CmdLineHelper, FormOrderDecidesTheWinnerNotPosition) {
    EXPECT_EQ(Store({L"-p", L"A", L"/p", L"B"}).Make().GetValue(L"p", L""), L"B");
    EXPECT_EQ(Store({L"--p", L"A", L"-p", L"B"}).Make().GetValue(L"p", L""), L"B");
    EXPECT_EQ(Store({L"-P", L"A", L"--p", L"B"}).Make().GetValue(L"p", L""), L"B");
    EXPECT_EQ(Store({L"/p", L"A", L"p", L"B"}).Make().GetValue(L"p", L""), L"B");
    EXPECT_EQ(Store({L"-p", L"A", L"--p", L"B"}).Make().GetValue(L"p", L""), L"A");
}

TEST(CmdLineHelper, TakesFirstOccurrenceOnly) {
    EXPECT_EQ(Store({L"-p", L"A", L"-p", L"B"}).Make().GetValue(L"p", L""), L"A");
    // The first -p has no value; a later -p is never looked at, so the default wins.
    EXPECT_EQ(Store({L"-p", L"", L"-p", L"B"}).Make().GetValue(L"p", L"D"), L"D");
    // ...unless another spelling supplies a value.
    EXPECT_EQ(Store({L"-p", L"", L"--p", L"B"}).Make().GetValue(L"p", L"D"), L"B");
}

TEST(CmdLineHelper, ValueIsTakenWhateverItsText) {
    auto store = Store({L"-c", L"-o"}).Make();
    EXPECT_EQ(store.GetValue(L"c", L""), L"-o");
    EXPECT_TRUE(store.IsPresent(L"o"));
    EXPECT_EQ(store.GetValue(L"o", L"dflt"), L"dflt");

    // A value equal to an option name counts as that option.
    auto bare = Store({L"-e", L"c"}).Make();
    EXPECT_TRUE(bare.IsPresent(L"c"));
    EXPECT_EQ(bare.GetValue(L"c", L"D"), L"D");
    EXPECT_EQ(Store({L"p", L"X"}).Make().GetValue(L"p", L""), L"X");
}

TEST(CmdLineHelper, EmptyOrMissingValueFallsBack) {
    auto last = Store({L"-r", L"1", L"-p"}).Make();
    EXPECT_TRUE(last.IsPresent(L"p"));
    EXPECT_EQ(last.GetValue(L"p", L"D"), L"D");
    EXPECT_EQ(Store({L"-dp", L""}).Make().GetValue(L"dp", L"deploy-package.zip"),
              L"deploy-package.zip");
    EXPECT_EQ(Store({L"-p", L"x"}).Make().GetValue(L"p", nullptr), L"x");
    EXPECT_EQ(Store({}).Make().GetValue(L"p", nullptr), L"");
}

TEST(CmdLineHelper, MatchesOnlyWholeSpellingsInOneCase) {
    auto store = Store({L"-Sf", L"true", L"-P", L"X", L"-pl", L"log"}).Make();
    EXPECT_FALSE(store.IsPresent(L"sf"));
    EXPECT_EQ(store.GetValue(L"p", L""), L"X");
    EXPECT_TRUE(store.IsPresent(L"pl"));
    EXPECT_FALSE(Store({L"-pl", L"log"}).Make().IsPresent(L"p"));
    EXPECT_FALSE(Store({L"---p", L"x"}).Make().IsPresent(L"p"));
    EXPECT_TRUE(Store({L"--SF", L"x"}).Make().IsPresent(L"sf"));
}

TEST(CmdLineHelper, GetInt64FollowsWcstollBaseZero) {
    struct Case {
        const wchar_t* text;
        int64_t expected;
    };
    const Case cases[] = {
        {L"  42", 42},
        {L"+7", 7},
        {L"-1", -1},
        {L"12abc", 12},
        {L"0x1F", 31},
        {L"0X1f", 31},
        {L"017", 15},
        {L"010", 8},
        {L"09", 0},  // "0" then a digit that is not octal: the conversion stops at 9.
        {L"abc", -99},
        {L"-", -99},
        {L" ", -99},
        {L"9223372036854775807", INT64_MAX},
        {L"9223372036854775808", INT64_MAX},
        {L"99999999999999999999999", INT64_MAX},
        {L"-99999999999999999999999", INT64_MIN},
        {L"4294967297", 4294967297LL},
    };
    for (const Case& c : cases) {
        auto store = Store({L"-pt", c.text}).Make();
        EXPECT_EQ(store.GetInt64(L"pt", -99), c.expected)
            << "text: " << testing::PrintToString(std::wstring(c.text));
    }
    EXPECT_EQ(Store({L"-pt"}).Make().GetInt64(L"pt", -1), -1);
    EXPECT_EQ(Store({L"-pt", L""}).Make().GetInt64(L"pt", -1), -1);
    EXPECT_EQ(Store({}).Make().GetInt64(L"pt", 3), 3);
}

TEST(CmdLineHelper, LookupsDoNotDisturbEachOther) {
    auto store = Store({L"-p", L"A", L"-r", L"5"}).Make();
    EXPECT_EQ(store.GetInt64(L"r", 0), 5);
    EXPECT_EQ(store.GetValue(L"p", L""), L"A");
    EXPECT_EQ(store.GetInt64(L"r", 0), 5);
    EXPECT_EQ(store.NameForms()[0], L"r");
}

}  // namespace
