#include "Logger.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <objbase.h>

#include <iostream>
#include <stdexcept>
#include <string>

#include "Fault.h"
#include "Guard.h"
#include "LogCapture.h"
#include "Logger.h"
#include "LoggerHelper.h"
#include "LoggerLine.h"
#include "TestEnv.h"

namespace {

using ::testing::HasSubstr;

TEST(LogReport, WritesOneLinePerReportAndBareMessageToEventLibrary) {
    LogCapture capture(true);
    LogReport(kLevelInfo, L"Deployment Packager Wrapper", L"PATH: %s", L"C:\\rt;C:\\x");
    LogReport(kLevelError, nullptr, L"code %d", -7);
    LogReport(1234, L"C", L"odd level");

    EXPECT_EQ(capture.Output(),
              L"test.exe:Deployment Packager Wrapper:PATH: C:\\rt;C:\\x\n"
              L"test.exe::code -7\n"
              L"test.exe:C:odd level\n");
    ASSERT_EQ(capture.Events().size(), 3u);
    EXPECT_EQ(capture.Events()[0].level, 4);
    EXPECT_EQ(capture.Events()[0].processName, L"test.exe");
    EXPECT_EQ(capture.Events()[0].component, L"Deployment Packager Wrapper");
    EXPECT_EQ(capture.Events()[0].message, L"PATH: C:\\rt;C:\\x");
    EXPECT_EQ(capture.Events()[1].component, L"");  // empty, never null
    EXPECT_EQ(capture.Events()[2].level, 1234);
    EXPECT_TRUE(capture.DebugStrings().empty());
}

TEST(LogReport, WithoutEventLibraryTheWholeLineGoesToTheDebuggerOutput) {
    LogCapture capture(false);
    LogReport(kLevelTrace, L"Util class", L"Init Util library");
    ASSERT_EQ(capture.DebugStrings().size(), 1u);
    EXPECT_EQ(capture.DebugStrings()[0], L"test.exe:Util class:Init Util library\n");
    EXPECT_EQ(capture.Output(), L"test.exe:Util class:Init Util library\n");
}

TEST(LogReport, CutsLongMessagesTo4094Characters) {
    LogCapture capture(true);
    const std::wstring longText(5000, L'x');
    LogReport(kLevelInfo, L"C", L"%s", longText.c_str());
    LogReport(kLevelInfo, L"C", L"%s", std::wstring(4094, L'y').c_str());
    ASSERT_EQ(capture.Events().size(), 2u);
    EXPECT_EQ(capture.Events()[0].message, std::wstring(4094, L'x'));
    EXPECT_EQ(capture.Events()[1].message, std::wstring(4094, L'y'));
    EXPECT_EQ(capture.Lines()[0], L"test.exe:C:" + std::wstring(4094, L'x'));
}

std::wstring FormatIntoFilled(size_t capacity, const wchar_t* format, ...) {
    std::wstring buffer(capacity + 1, L'#');  // no terminator but the formatter's
    va_list args;
    va_start(args, format);
    FormatInto(buffer.data(), capacity, format, args);
    va_end(args);
    return buffer.c_str();
}

// The C runtime leaves the buffer unterminated when the text fills it exactly, as well as
// when it is longer.
TEST(FormatInto, TerminatesTextThatFillsOrOverflowsTheBuffer) {
    EXPECT_EQ(FormatIntoFilled(8, L"%s", L"123456"), L"123456");
    EXPECT_EQ(FormatIntoFilled(8, L"%s", L"1234567"), L"1234567");
    EXPECT_EQ(FormatIntoFilled(8, L"%s", L"123456789"), L"1234567");
}

TEST(LogReport, FormatsWideStringsAndSignedIntegers) {
    LogCapture capture(true);
    LogReport(kLevelInfo, L"C", L"copy: %s %s", L"a\u00e9", L"b");
    LogReport(kLevelInfo, L"C", L"Err = %d", -1066598274);
    LogReport(kLevelInfo, L"C", L"100%% literal");
    EXPECT_EQ(capture.Messages(), (std::vector<std::wstring>{
                                      L"copy: a\u00e9 b", L"Err = -1066598274", L"100% literal"}));
}

// A "%s" given a small integer reads from an invalid address.
TEST(LogReport, AFaultingFormatGivesTwoTracesAndTheCallerGoesOn) {
    LogCapture capture(true);
    LogReport(kLevelInfo, L"C", L"bad %s", reinterpret_cast<const wchar_t*>(5));
    LogReport(kLevelInfo, L"C", L"still here");

    ASSERT_EQ(capture.Events().size(), 3u);
    const auto& first = capture.Events()[0];
    const auto& second = capture.Events()[1];
    EXPECT_EQ(first.level, 1);
    EXPECT_EQ(first.component, L"Logger");
    EXPECT_EQ(first.message,
              L"Logger::Trace: unexpected exception during reporting. \nError code: 0xC0000005\n");
    EXPECT_EQ(second.level, 1);
    EXPECT_EQ(second.component, L"Logger");
    EXPECT_EQ(second.message,
              L"Logger::Trace: unexpected exception during reporting. \nFormat  string: bad %s\n");
    EXPECT_EQ(capture.Events()[2].message, L"still here");
    // The trace text goes to the debugger output first, bare; the line follows in the stream
    // with an empty line after it, since the text already ends in a newline.
    ASSERT_EQ(capture.DebugStrings().size(), 2u);
    EXPECT_EQ(capture.DebugStrings()[0], first.message);
    EXPECT_THAT(capture.Output(), HasSubstr(L"test.exe:Logger:Logger::Trace: unexpected exception "
                                            L"during reporting. \nError code: 0xC0000005\n\n"));
}

TEST(LoggerTrace, AnEmptyOrNullFormatGivesNoFormatLine) {
    LogCapture capture(false);
    Logger::Trace(L"", nullptr);
    Logger::Trace(nullptr, nullptr);
    ASSERT_EQ(capture.DebugStrings().size(), 4u);
    EXPECT_EQ(capture.DebugStrings()[0],
              L"Logger::Trace: unexpected exception during reporting. \n");
    EXPECT_EQ(capture.DebugStrings()[1],
              L"test.exe:Logger:Logger::Trace: unexpected exception during reporting. \n\n");
}

TEST(LogReport, AThrownExceptionWhileReportingIsCaughtAndTraced) {
    LogCapture capture(true);
    capture.Platform().eventMode = RecordingLoggerPlatform::EventMode::Throws;
    LogReport(kLevelInfo, L"C", L"msg");
    const auto& debug = capture.DebugStrings();
    // Each trace's own report threw again: noted in the debugger output, no recursion.
    ASSERT_EQ(debug.size(), 4u);
    EXPECT_THAT(debug[0], HasSubstr(L"Error code: 0xE06D7363"));
    EXPECT_THAT(debug[1], HasSubstr(L"the trace's own report failed"));
    EXPECT_THAT(debug[2], HasSubstr(L"Format  string: msg"));
    EXPECT_THAT(debug[3], HasSubstr(L"the trace's own report failed"));
}

TEST(LogReport, AnEventLibraryThatFaultsEveryTimeDoesNotStopTheRun) {
    LogCapture capture(true);
    capture.Platform().eventMode = RecordingLoggerPlatform::EventMode::Faults;
    for (int i = 0; i < 3; ++i) {
        LogReport(kLevelInfo, L"C", L"report %d", i);
    }
    // Each report: its own call and one per trace, never more.
    EXPECT_EQ(capture.Platform().eventCalls, 9);
    EXPECT_EQ(capture.DebugStrings().size(), 12u);
    // The stream still got every line, traces included.
    EXPECT_THAT(capture.Output(), HasSubstr(L"test.exe:C:report 2\n"));
}

// A logger of the test's own on `platform`, its wcout captured, after Init.
struct InitCase {
    LogCapture capture{false};
    LoggerHelper logger;
    explicit InitCase(LoggerPlatform& platform) : logger(platform) {
        capture.Clear();
        logger.Init();
    }
};

RecordingLoggerPlatform Recording(const wchar_t* programPath, HRESULT folderResult) {
    RecordingLoggerPlatform platform;
    platform.programPath = programPath;
    platform.folderResult = folderResult;
    return platform;
}

TEST(LoggerInit, NamesTheProcessAfterItsExecutable) {
    RecordingLoggerPlatform platform = Recording(L"C:\\tools\\logging_test.exe", E_FAIL);
    InitCase c(platform);
    EXPECT_EQ(c.logger.ProcessName(), L"logging_test.exe");
}

TEST(LoggerInit, AMissingExecutablePathLeavesTheNameEmpty) {
    RecordingLoggerPlatform platform = Recording(L"", E_FAIL);
    platform.programPathError = ERROR_ACCESS_DENIED;
    InitCase c(platform);
    EXPECT_EQ(c.logger.ProcessName(), L"");
    // Both path queries report to the debugger output only, never through the logger.
    ASSERT_EQ(platform.debugStrings.size(), 3u);
    EXPECT_THAT(platform.debugStrings[0], HasSubstr(L"GetExePath failed. Err = 5\n"));
    EXPECT_EQ(platform.debugStrings[1], L"GetNameFromPath: null path specified");
    EXPECT_THAT(platform.debugStrings[2], HasSubstr(L"GetFolderPath failed"));
    EXPECT_TRUE(c.capture.DebugStrings().empty()) << "nothing through the process logger";
}

TEST(LoggerInit, AFolderLookupFailureIsSelfReported) {
    RecordingLoggerPlatform platform = Recording(L"C:\\x.exe", E_FAIL);
    InitCase c(platform);
    const std::wstring expected =
        L"LoggerHelper: LoggerHelper::Init GetFolderPath failed with code = -2147467259\n";
    EXPECT_EQ(c.capture.Output(), expected);
    EXPECT_EQ(platform.debugStrings, std::vector<std::wstring>{expected});
    EXPECT_EQ(c.logger.EventDllPath(), L"");
    EXPECT_TRUE(platform.librariesBound.empty()) << "no load is tried";
    EXPECT_FALSE(c.logger.ReportsToEventLibrary());
}

// A Common Files lookup that faults, as a broken shell extension might.
class FaultingFolderPlatform : public RecordingLoggerPlatform {
  public:
    HRESULT CommonFilesFolder(std::wstring*) override {
        RaiseAccessViolation();
        return S_OK;
    }
};

TEST(LoggerInit, AFaultWhileBindingEndsInTheFailedSelfReportAndTheLoggerStillWorks) {
    FaultingFolderPlatform platform;
    platform.programPath = L"C:\\logging_test.exe";
    InitCase c(platform);
    EXPECT_EQ(c.capture.Output(), L"LoggerHelper: LoggerHelper::Init failed\n");
    EXPECT_FALSE(c.logger.ReportsToEventLibrary());
    c.logger.Report(kLevelInfo, L"C", L"after");
    EXPECT_THAT(c.capture.Output(), HasSubstr(L"logging_test.exe:C:after\n"));
    EXPECT_EQ(platform.debugStrings.back(), L"logging_test.exe:C:after\n");
}

TEST(LoggerInit, AMissingLibraryIsSelfReportedWithItsError) {
    RecordingLoggerPlatform platform = Recording(L"C:\\x.exe", S_OK);
    platform.commonFiles = L"D:\\Common";
    platform.loadError = ERROR_MOD_NOT_FOUND;
    InitCase c(platform);
    EXPECT_EQ(c.logger.EventDllPath(), L"D:\\Common\\Quorvel\\ZelNSEvent.dll");
    EXPECT_EQ(platform.librariesBound, std::vector<std::wstring>{c.logger.EventDllPath()});
    EXPECT_EQ(c.capture.Output(),
              L"LoggerHelper: LoggerHelper::Init cannot load ZelNSEvent.dll, error = 126. \n");
    EXPECT_FALSE(c.logger.ReportsToEventLibrary());
}

TEST(LoggerInit, TwoLoggersOnTwoPlatformsKeepApart) {
    RecordingLoggerPlatform first = Recording(L"C:\\first.exe", S_OK);
    RecordingLoggerPlatform second = Recording(L"C:\\second.exe", S_OK);
    second.eventMode = RecordingLoggerPlatform::EventMode::Missing;
    InitCase a(first);
    InitCase b(second);
    a.logger.Report(kLevelWarning, L"A", L"to the event library");
    b.logger.Report(kLevelInfo, L"B", L"to the debugger output");
    ASSERT_EQ(first.events.size(), 1u);
    EXPECT_EQ(first.events[0].processName, L"first.exe");
    EXPECT_TRUE(first.debugStrings.empty());
    EXPECT_TRUE(second.events.empty());
    EXPECT_EQ(second.debugStrings,
              std::vector<std::wstring>{L"second.exe:B:to the debugger output\n"});
}

// The real platform but for its Common Files folder, which is the test's, and its debugger
// output, which it records.
class FolderPlatform : public RealLoggerPlatform {
  public:
    explicit FolderPlatform(std::wstring given) : folder(std::move(given)) {}
    HRESULT CommonFilesFolder(std::wstring* answer) override {
        *answer = folder;
        return S_OK;
    }
    void Wide(const wchar_t* text) override { debugStrings.emplace_back(text); }
    std::wstring folder;
    std::vector<std::wstring> debugStrings;
};

void InstallDouble(const TempDir& folder, const wchar_t* variant) {
    CreateDirectoryW((folder / L"Quorvel").c_str(), nullptr);
    ASSERT_TRUE(
        CopyFileW(BinPath(std::wstring(L"doubles\\") + variant + L"\\ZelNSEvent.dll").c_str(),
                  (folder / L"Quorvel\\ZelNSEvent.dll").c_str(), FALSE));
}

TEST(LoggerInit, TheRealPlatformBindsALibraryThatHasTheExport) {
    TempDir folder;
    InstallDouble(folder, L"events-recording");
    FolderPlatform platform(folder.Path());
    {
        InitCase c(platform);
        EXPECT_TRUE(c.logger.ReportsToEventLibrary());
        EXPECT_EQ(c.capture.Output(), L"");
    }
}

// A library without CEReportEventEx is not reported to, but stays loaded as long as the
// logger lives (to the end of the process): it is released with the logger, not at binding.
TEST(LoggerInit, ALibraryWithoutTheExportIsBoundWithoutAMessageAndNotReportedTo) {
    TempDir folder;
    InstallDouble(folder, L"events-noexport");
    const std::wstring library = folder / L"Quorvel\\ZelNSEvent.dll";
    FolderPlatform platform(folder.Path());
    {
        InitCase c(platform);
        EXPECT_FALSE(c.logger.ReportsToEventLibrary());
        EXPECT_EQ(c.capture.Output(), L"");
        EXPECT_TRUE(platform.debugStrings.empty());
        c.logger.Report(kLevelInfo, L"C", L"m");
        EXPECT_EQ(platform.debugStrings, std::vector<std::wstring>{L"logging_test.exe:C:m\n"});
        EXPECT_NE(GetModuleHandleW(library.c_str()), nullptr) << "released too early";
    }
    EXPECT_EQ(GetModuleHandleW(library.c_str()), nullptr) << "released with the logger";
}

// CEReportEventEx2 is looked up when the library is bound, whichever other export it has.
TEST(LoggerInit, TheSecondEntryIsLookedUpAtBinding) {
    struct Case {
        std::wstring library;
        bool canReport;
        bool second;
    };
    const Case cases[] = {{BinPath(L"doubles\\events-recording\\ZelNSEvent.dll"), true, true},
                          {BinPath(L"doubles\\events-noexport\\ZelNSEvent.dll"), false, true},
                          {BinPath(L"doubles\\packager-recording\\KQPackager.dll"), false, false}};
    for (const Case& c : cases) {
        RealLoggerPlatform platform;
        DWORD error = 0;
        const std::unique_ptr<EventLibrary> bound = platform.BindEventLibrary(c.library, &error);
        ASSERT_NE(bound, nullptr) << ToUtf8(c.library) << " error " << error;
        EXPECT_EQ(bound->CanReport(), c.canReport) << ToUtf8(c.library);
        EXPECT_EQ(bound->HasReportEventEx2(), c.second) << ToUtf8(c.library);
    }
}

TEST(SelfReport, CutsAt4095Characters) {
    LogCapture capture(false);
    RecordingLoggerPlatform platform;
    LoggerHelper logger(platform);
    logger.SelfReport(L"%s", std::wstring(5000, L'z').c_str());
    EXPECT_EQ(capture.Output(), L"LoggerHelper: " + std::wstring(4095, L'z') + L"\n");
}

// A debugger output that throws, a standard exception or something else.
class ThrowingDebugOutputPlatform : public RecordingLoggerPlatform {
  public:
    void Wide(const wchar_t*) override {
        if (standard) {
            throw std::runtime_error("no output");
        }
        throw 42;
    }
    bool standard = false;
};

TEST(SelfReport, AnExceptionWhileSelfReportingIsCaughtAndNamed) {
    LogCapture capture(false);
    ThrowingDebugOutputPlatform platform;
    LoggerHelper logger(platform);
    logger.SelfReport(L"first");
    platform.standard = true;
    logger.SelfReport(L"second");
    EXPECT_EQ(platform.debugStrings,
              (std::vector<std::wstring>{L"LoggerHelper: unexpected exception during reporting\n",
                                         L"LoggerHelper: exception:no output\n"}));
}

}  // namespace
