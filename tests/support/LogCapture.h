#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "LoggerTesting.h"

// Replaces the process-wide logger for the lifetime of the object with one named
// "test.exe" and captures everything it emits: the wcout text, the debugger output and, when
// `withEventLibrary` is set, the calls an event library would receive. Loggers a test builds
// on Platform() write their debugger output into the same capture.
class LogCapture {
  public:
    struct Event {
        int level;
        std::wstring processName;
        std::wstring component;
        std::wstring message;
    };

    explicit LogCapture(bool withEventLibrary = true);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // wcout text split at newlines.
    std::vector<std::wstring> Lines() const;
    std::wstring Output() const { return stream.str(); }
    const std::vector<Event>& Events() const;
    const std::vector<std::wstring>& DebugStrings() const;
    // Messages of the events (or, without the event library, of the lines), in order.
    std::vector<std::wstring> Messages() const;
    void Clear();

    // The real platform with the debugger output recorded here.
    static LoggerPlatform Platform();

  private:
    std::wostringstream stream;
    std::wstreambuf* previousBuffer;
    LoggerHelper* previousLogger;
    LoggerHelper* logger;
};
