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

int __stdcall ThrowingEvent(int, const wchar_t*, const wchar_t*, const wchar_t*) {
    throw std::runtime_error("event library threw");
}

int faultingCalls = 0;
int __stdcall FaultingEvent(int, const wchar_t*, const wchar_t*, const wchar_t*) {
    ++faultingCalls;
    RaiseAccessViolation();
    return 0;
}

struct SwappedLogger {
    explicit SwappedLogger(ReportEventExFn entry)
        : logger(LoggerTesting::Create(LogCapture::Platform(), L"probe.exe", entry)),
          previous(LoggerTesting::ExchangeInstance(logger)) {}
    ~SwappedLogger() {
        LoggerTesting::ExchangeInstance(previous);
        delete logger;
    }
    LoggerHelper* logger;
    LoggerHelper* previous;
};

TEST(LogReport, AThrownExceptionWhileReportingIsCaughtAndTraced) {
    LogCapture capture(false);  // captures the stream and the debugger output
    SwappedLogger swapped(&ThrowingEvent);
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
    LogCapture capture(false);
    SwappedLogger swapped(&FaultingEvent);
    faultingCalls = 0;
    for (int i = 0; i < 3; ++i) {
        LogReport(kLevelInfo, L"C", L"report %d", i);
    }
    // Each report: its own call and one per trace, never more.
    EXPECT_EQ(faultingCalls, 9);
    EXPECT_EQ(capture.DebugStrings().size(), 12u);
    // The stream still got every line, traces included.
    EXPECT_THAT(capture.Output(), HasSubstr(L"probe.exe:C:report 2\n"));
}

HRESULT FolderFails(wchar_t** folder) {
    *folder = nullptr;
    return E_FAIL;
}

std::wstring injectedFolder;
HRESULT FolderFromTest(wchar_t** folder) {
    const size_t bytes = (injectedFolder.size() + 1) * sizeof(wchar_t);
    *folder = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
    memcpy(*folder, injectedFolder.c_str(), bytes);
    return S_OK;
}

DWORD WINAPI NoModuleName(HMODULE, LPWSTR, DWORD) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
}

// A logger on the real platform but for the two calls given, its debugger output captured,
// after Init.
struct InitCase {
    LoggerHelper* logger;
    LogCapture capture{false};
    InitCase(ModuleFileNameFn moduleFileName, HRESULT (*commonFilesFolder)(wchar_t**)) {
        LoggerPlatform platform = LogCapture::Platform();
        platform.moduleFileName = moduleFileName;
        platform.commonFilesFolder = commonFilesFolder;
        logger = LoggerTesting::Create(platform, L"", nullptr);
        capture.Clear();
        logger->Init();
    }
    ~InitCase() { delete logger; }
    const std::wstring& ProcessName() const { return LoggerTesting::ProcessName(*logger); }
    const std::wstring& EventDllPath() const { return LoggerTesting::EventDllPath(*logger); }
    HMODULE EventDll() const { return LoggerTesting::EventDll(*logger); }
    ReportEventExFn ReportEventEx() const { return LoggerTesting::ReportEventEx(*logger); }
    FARPROC ReportEventEx2() const { return LoggerTesting::ReportEventEx2(*logger); }
};

TEST(LoggerInit, NamesTheProcessAfterItsExecutable) {
    InitCase c(&GetModuleFileNameW, &FolderFails);
    EXPECT_EQ(c.ProcessName(), L"logging_test.exe");
}

TEST(LoggerInit, AMissingExecutablePathLeavesTheNameEmpty) {
    InitCase c(&NoModuleName, &FolderFails);
    EXPECT_EQ(c.ProcessName(), L"");
    // Both path queries report to the debugger output only, never through the logger.
    ASSERT_EQ(c.capture.DebugStrings().size(), 3u);
    EXPECT_THAT(c.capture.DebugStrings()[0], HasSubstr(L"GetExePath failed. Err = 5\n"));
    EXPECT_EQ(c.capture.DebugStrings()[1], L"GetNameFromPath: null path specified");
    EXPECT_THAT(c.capture.DebugStrings()[2], HasSubstr(L"GetFolderPath failed"));
}

TEST(LoggerInit, AFolderLookupFailureIsSelfReported) {
    InitCase c(&GetModuleFileNameW, &FolderFails);
    const std::wstring expected =
        L"LoggerHelper: LoggerHelper::Init GetFolderPath failed with code = -2147467259\n";
    EXPECT_EQ(c.capture.Output(), expected);
    ASSERT_EQ(c.capture.DebugStrings().size(), 1u);
    EXPECT_EQ(c.capture.DebugStrings()[0], expected);
    EXPECT_EQ(c.EventDllPath(), L"");
    EXPECT_EQ(c.EventDll(), nullptr);
}

HRESULT FolderFaults(wchar_t**) {
    RaiseAccessViolation();
    return S_OK;
}

TEST(LoggerInit, AFaultWhileBindingEndsInTheFailedSelfReportAndTheLoggerStillWorks) {
    InitCase c(&GetModuleFileNameW, &FolderFaults);
    EXPECT_EQ(c.capture.Output(), L"LoggerHelper: LoggerHelper::Init failed\n");
    EXPECT_EQ(c.EventDll(), nullptr);
    EXPECT_EQ(c.ReportEventEx(), nullptr);
    c.logger->Report(kLevelInfo, L"C", L"after");
    EXPECT_THAT(c.capture.Output(), HasSubstr(L"logging_test.exe:C:after\n"));
}

TEST(LoggerInit, AMissingLibraryIsSelfReportedWithItsError) {
    TempDir folder;
    injectedFolder = folder.Path();
    InitCase c(&GetModuleFileNameW, &FolderFromTest);
    EXPECT_EQ(c.EventDllPath(), folder.Path() + L"\\Quorvel\\ZelNSEvent.dll");
    EXPECT_EQ(c.capture.Output(),
              L"LoggerHelper: LoggerHelper::Init cannot load ZelNSEvent.dll, error = 126. \n");
    EXPECT_EQ(c.ReportEventEx(), nullptr);
}

void InstallDouble(const TempDir& folder, const wchar_t* variant) {
    CreateDirectoryW((folder / L"Quorvel").c_str(), nullptr);
    ASSERT_TRUE(
        CopyFileW(BinPath(std::wstring(L"doubles\\") + variant + L"\\ZelNSEvent.dll").c_str(),
                  (folder / L"Quorvel\\ZelNSEvent.dll").c_str(), FALSE));
}

TEST(LoggerInit, BindsBothExportsOfALibraryThatHasThem) {
    TempDir folder;
    InstallDouble(folder, L"events-recording");
    injectedFolder = folder.Path();
    {
        InitCase c(&GetModuleFileNameW, &FolderFromTest);
        EXPECT_NE(c.EventDll(), nullptr);
        EXPECT_NE(c.ReportEventEx(), nullptr);
        EXPECT_NE(c.ReportEventEx2(), nullptr);
        EXPECT_EQ(c.capture.Output(), L"");
    }
}

TEST(LoggerInit, ALibraryWithoutTheExportStaysLoadedWithoutAMessage) {
    TempDir folder;
    InstallDouble(folder, L"events-noexport");
    injectedFolder = folder.Path();
    InitCase c(&GetModuleFileNameW, &FolderFromTest);
    EXPECT_NE(c.EventDll(), nullptr);
    EXPECT_EQ(c.ReportEventEx(), nullptr);
    EXPECT_NE(c.ReportEventEx2(), nullptr);
    EXPECT_EQ(c.capture.Output(), L"");
    EXPECT_TRUE(c.capture.DebugStrings().empty());
}

TEST(SelfReport, CutsAt4095Characters) {
    LogCapture capture(false);
    LoggerHelper* logger = LoggerTesting::Create(LogCapture::Platform(), L"x.exe", nullptr);
    logger->SelfReport(L"%s", std::wstring(5000, L'z').c_str());
    delete logger;
    EXPECT_EQ(capture.Output(), L"LoggerHelper: " + std::wstring(4095, L'z') + L"\n");
}

}  // namespace
