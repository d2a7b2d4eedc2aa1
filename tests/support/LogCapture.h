#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "RecordingLoggerPlatform.h"

// Captures everything the process-wide logger of a test program emits while the object
// lives: the wcout text, and from its recording platform (ProcessRecording()) the debugger
// output and the calls the event library receives. The logger is named "test.exe"; with
// `withEventLibrary` false its event library lacks CEReportEventEx, so reports go to the
// debugger output instead.
class LogCapture {
  public:
    using Event = RecordingLoggerPlatform::Event;

    explicit LogCapture(bool withEventLibrary = true);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // wcout text split at newlines.
    std::vector<std::wstring> Lines() const;
    std::wstring Output() const { return stream.str(); }
    const std::vector<Event>& Events() const { return platform.events; }
    const std::vector<std::wstring>& DebugStrings() const { return platform.debugStrings; }
    // Messages of the events (or, without the event library, of the lines), in order.
    std::vector<std::wstring> Messages() const;
    void Clear();

    RecordingLoggerPlatform& Platform() const { return platform; }

  private:
    RecordingLoggerPlatform& platform;
    std::wostringstream stream;
    std::wstreambuf* previousBuffer;
};
