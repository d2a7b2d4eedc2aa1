#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "DebugOutput.h"
#include "Queries.h"
#include "WinResources.h"

// Report levels: single bits, passed through unchanged (the logger never filters).
inline constexpr int kLevelError = 1;
inline constexpr int kLevelWarning = 2;
inline constexpr int kLevelInfo = 4;
inline constexpr int kLevelTrace = 8;

// Capacity handed to the formatter, terminator included: a message holds at most 4094
// characters and longer output is cut, never rejected.
inline constexpr size_t kReportBufferSize = 4096;
inline constexpr size_t kReportFormatCapacity = 4095;

// The one report call of the program. Formats `format` printf-style ("%s" takes a wide
// string, "%d" a 32-bit integer) and writes the line "processName:component:message\n" to
// std::wcout, flushed at once, then hands the report to the event library when it is bound,
// or the whole line to the debugger output when it is not. `component` may be null (written
// as ""). Never fails its caller: a fault or exception while formatting or reporting is
// caught and described by two traces under "Logger". The thread's last-error code is left
// as it was.
void LogReport(int level, const wchar_t* component, const wchar_t* format, ...);

// CEReportEventEx of ZelNSEvent.dll.
using ReportEventExFn = int(__stdcall*)(int level, const wchar_t* processName,
                                        const wchar_t* component, const wchar_t* message);

// The platform calls the logger makes; the process-wide logger is built on the real ones.
struct LoggerPlatform {
    ModuleFileNameFn moduleFileName;  // GetModuleFileNameW, for the process name
    // SHGetKnownFolderPath for FOLDERID_ProgramFilesCommon; the text is freed with
    // CoTaskMemFree.
    HRESULT (*commonFilesFolder)(wchar_t** folder);
    DebugOutputChannel debugOutput;

    static LoggerPlatform Real();
};

// The process-wide logger: created by the first report, binds the event library once and
// lives until the process ends.
class LoggerHelper {
  public:
    // The instance, created (and bound) on first use under the logger lock. Null only after
    // the process-exit clean-up has destroyed it.
    static LoggerHelper* Instance();

    // Binds the event library at <Common Files>\Quorvel\ZelNSEvent.dll; called once, by
    // Instance. Failures are self-reported and leave reports going to the debugger output.
    void Init();

    // Composes and emits one line for an already formatted message.
    void Report(int level, const wchar_t* component, const wchar_t* message);

    // The logger's message about itself: "LoggerHelper: <text>\n" to wcout and the debugger
    // output, never to the event library. At most 4095 characters of text.
    void SelfReport(const wchar_t* format, ...);

    ~LoggerHelper();
    LoggerHelper(const LoggerHelper&) = delete;
    LoggerHelper& operator=(const LoggerHelper&) = delete;

  private:
    friend class Logger;
    friend struct LoggerTesting;
    explicit LoggerHelper(const LoggerPlatform& given) : platform(given) {}

    LoggerPlatform platform;
    std::wstring eventDllPath;
    UniqueModule eventDll;
    std::wstring processName;
    ReportEventExFn reportEventEx = nullptr;
    FARPROC reportEventEx2 = nullptr;
};

class Logger {
  public:
    // Describes a failure of reporting: writes the description to the debugger output, then
    // reports it at level 1 under "Logger". Either argument may be null. A trace whose own
    // report fails again goes to the debugger output only, so traces never recurse.
    static void Trace(const wchar_t* format, const uint32_t* code);
};
