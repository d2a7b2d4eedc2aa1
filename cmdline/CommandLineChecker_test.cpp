#include "CommandLineChecker.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "LanguageTable.h"
#include "LogCapture.h"

namespace {

constexpr const wchar_t* kGuid = L"ca25dbe4-81d5-4467-8d0b-d4f05b31a942";

struct CheckRun {
    bool accepted;
    std::vector<LogCapture::Event> events;
};

CheckRun RunCheck(std::vector<const wchar_t*> args) {
    args.insert(args.begin(), L"DeploymentPackager.exe");
    CmdLineHelper store(static_cast<int>(args.size()), args.data());
    CommandLineChecker checker(store);
    LogCapture capture;
    CheckRun run{checker.Check(), {}};
    for (const auto& e : capture.Events()) {
        if (e.component == L"Deployment Packager CmdLine Checker") {
            run.events.push_back(e);
        }
    }
    return run;
}

// One refused command line and the one report it must give.
struct Refusal {
    std::vector<const wchar_t*> args;
    const wchar_t* message;
};

TEST(CommandLineChecker, RefusesWithExactlyOneReport) {
    const std::vector<Refusal> refusals = {
        {{}, L"Packager: invalid command line"},
        {{L"-p", kGuid, L"-r", L"0", L"-c", L"C:\\c"}, L"Packager: invalid command line"},
        {{L"-r", L"0", L"-c", L"x", L"-o", L"y", L"-p"}, L"Unable to parse UUID string. Err = 87."},
        {{L"-p", L"00000000-0000-0000-0000-000000000000", L"-r", L"0", L"-c", L"x", L"-o", L"y"},
         L"Packager: patch id is empty."},
        {{L"-p", L"{00000000-0000-0000-0000-000000000000}", L"-r", L"0", L"-c", L"x", L"-o", L"y"},
         L"Packager: patch id is empty."},
        {{L"-p", L"not-a-guid", L"-r", L"0", L"-c", L"x", L"-o", L"y"},
         L"Unable to parse UUID string. Err = 1705."},
        {{L"-p", kGuid, L"-r", L"26", L"-c", L"x", L"-o", L"y"}, L"Packager: invalid region: 26"},
        {{L"-p", kGuid, L"-r", L"34", L"-c", L"x", L"-o", L"y"}, L"Packager: invalid region: 34"},
        {{L"-p", kGuid, L"-r", L"39", L"-c", L"x", L"-o", L"y"}, L"Packager: invalid region: 39"},
        {{L"-p", kGuid, L"-r", L"-1", L"-c", L"x", L"-o", L"y"}, L"Packager: invalid region: -1"},
        {{L"-p", kGuid, L"-r", L"0x1A", L"-c", L"x", L"-o", L"y"},
         L"Packager: invalid region: 0x1A"},
        {{L"-p", kGuid, L"-r", L"abc", L"-c", L"x", L"-o", L"y"}, L"Packager: invalid region: abc"},
        {{L"-p", kGuid, L"-c", L"x", L"-o", L"y", L"-r"}, L"Packager: invalid region: "},
        // Wrong in both "p" and "r": only "p" is reported.
        {{L"-p", L"bad", L"-r", L"99", L"-c", L"x", L"-o", L"y"},
         L"Unable to parse UUID string. Err = 1705."},
    };
    for (const Refusal& refusal : refusals) {
        CheckRun run = RunCheck(refusal.args);
        EXPECT_FALSE(run.accepted) << testing::PrintToString(std::wstring(refusal.message));
        ASSERT_EQ(run.events.size(), 1u) << testing::PrintToString(std::wstring(refusal.message));
        EXPECT_EQ(run.events[0].message, refusal.message);
        EXPECT_EQ(run.events[0].level, 1);
    }
}

TEST(CommandLineChecker, AcceptsSilently) {
    for (const wchar_t* region : {L"0", L"38", L"3junk", L"010", L"25", L"27", L"33", L"35"}) {
        CheckRun run = RunCheck({L"-p", kGuid, L"-r", region, L"-c", L"x", L"-o", L"y"});
        EXPECT_TRUE(run.accepted) << testing::PrintToString(std::wstring(region));
        EXPECT_TRUE(run.events.empty());
    }
    // Presence is enough for "c" and "o"; the braced form of the GUID is accepted too.
    CheckRun run =
        RunCheck({L"/P", L"{CA25DBE4-81D5-4467-8D0B-D4F05B31A942}", L"--r", L"1", L"-o", L"-c"});
    EXPECT_TRUE(run.accepted);
}

TEST(CommandLineChecker, IsRepeatable) {
    const wchar_t* args[] = {L"x.exe", L"-p", kGuid, L"-r", L"26", L"-c", L"x", L"-o", L"y"};
    CmdLineHelper store(9, args);
    CommandLineChecker checker(store);
    LogCapture capture;
    EXPECT_FALSE(checker.Check());
    EXPECT_FALSE(checker.Check());
    EXPECT_EQ(capture.Events().size(), 2u);
}

TEST(LanguageTable, HasTheUnsupportedRegionsAndKnownEntries) {
    EXPECT_EQ(kLanguageTable.size(), 39u);
    for (int64_t region = 0; region < 39; ++region) {
        EXPECT_EQ(IsSupportedRegion(region), region != 26 && region != 34) << region;
    }
    EXPECT_EQ(LanguageOfRegion(0), 0x0409);
    EXPECT_EQ(LanguageOfRegion(1), 0x0409);
    EXPECT_EQ(LanguageOfRegion(18), 0x1004);
    EXPECT_EQ(LanguageOfRegion(25), 0x1401);
    EXPECT_EQ(LanguageOfRegion(38), 0x0809);
    EXPECT_FALSE(IsSupportedRegion(39));
    EXPECT_FALSE(IsSupportedRegion(-1));
}

}  // namespace
