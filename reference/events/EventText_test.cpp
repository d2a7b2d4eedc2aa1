#include "EventText.h"

#include <gtest/gtest.h>

#include "TestEnv.h"
#include "WinResources.h"

namespace {

TEST(ReferenceEvents, TheEntryCarriesComponentMessageTypeAndSource) {
    EXPECT_EQ(EventText(L"Deployment Packager Wrapper", L"PATH: x"),
              L"Deployment Packager Wrapper: PATH: x");
    // The tool passes "" for no component, never null; both mean none.
    EXPECT_EQ(EventText(L"", L"bare"), L"bare");
    EXPECT_EQ(EventText(nullptr, L"bare"), L"bare");
    EXPECT_EQ(EventText(L"C", nullptr), L"C: ");
    EXPECT_EQ(EventTypeOf(1), EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(EventTypeOf(2), EVENTLOG_WARNING_TYPE);
    for (int level : {0, 4, 8, 3, -1}) {
        EXPECT_EQ(EventTypeOf(level), EVENTLOG_INFORMATION_TYPE) << level;
    }
    EXPECT_STREQ(EventSourceOf(L"DeploymentPackager.exe"), L"DeploymentPackager.exe");
    EXPECT_STREQ(EventSourceOf(L""), L"Deployment Packager");
    EXPECT_STREQ(EventSourceOf(nullptr), L"Deployment Packager");
}

TEST(ReferenceEvents, TheLibraryReportsThroughBothExports) {
    using ReportFn = int(__stdcall*)(int, const wchar_t*, const wchar_t*, const wchar_t*);
    const UniqueModule library(LoadLibraryW(BinPath(L"reference\\ZelNSEvent.dll").c_str()));
    ASSERT_TRUE(library);
    for (const char* name : {"CEReportEventEx", "CEReportEventEx2"}) {
        const auto report = FunctionCast<ReportFn>(GetProcAddress(library.Get(), name));
        ASSERT_NE(report, nullptr) << name;
        EXPECT_EQ(report(1, L"event_text_test.exe", L"Test", L"an error"), 0) << name;
        EXPECT_EQ(report(4, nullptr, nullptr, nullptr), 0) << name;
    }
}

}  // namespace
