#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "LoggerPlatform.h"

// Capacity handed to the formatter, terminator included: a message holds at most 4094
// characters and longer output is cut, never rejected.
inline constexpr size_t kReportBufferSize = 4096;
inline constexpr size_t kReportFormatCapacity = 4095;

// A logger on a platform: the process-wide one behind LogReport, or one a test builds on a
// fake platform.
class LoggerHelper {
  public:
    explicit LoggerHelper(LoggerPlatform& given) : platform(given) {}
    ~LoggerHelper() = default;
    LoggerHelper(const LoggerHelper&) = delete;
    LoggerHelper& operator=(const LoggerHelper&) = delete;

    // The process-wide instance, created on ProcessLoggerPlatform() and bound on first use,
    // under the logger lock. Null only after the process-exit clean-up has destroyed it.
    static LoggerHelper* Instance();

    // Names the process and binds the event library at <Common Files>\Quorvel\ZelNSEvent.dll;
    // called once, by Instance. Failures are self-reported and leave reports going to the
    // debugger output.
    void Init();

    // Composes and emits one line for an already formatted message.
    void Report(int level, const wchar_t* component, const wchar_t* message);

    // The logger's message about itself: "LoggerHelper: <text>\n" to wcout and the debugger
    // output, never to the event library. At most 4095 characters of text.
    void SelfReport(const wchar_t* format, ...);

    LoggerPlatform& Platform() const { return platform; }
    const std::wstring& ProcessName() const { return processName; }
    const std::wstring& EventDllPath() const { return eventDllPath; }
    // Reports go to the event library: it is bound and has CEReportEventEx.
    bool ReportsToEventLibrary() const { return eventLibrary && eventLibrary->CanReport(); }

  private:
    void BindEventLibrary();

    LoggerPlatform& platform;
    std::wstring eventDllPath;
    std::unique_ptr<EventLibrary> eventLibrary;
    std::wstring processName;
};

class Logger {
  public:
    // Describes a failure of reporting: writes the description to the debugger output, then
    // reports it at level 1 under "Logger" through the process-wide logger. Either argument
    // may be null. A trace whose own report fails again goes to the debugger output only, so
    // traces never recurse.
    static void Trace(const wchar_t* format, const uint32_t* code);
};
