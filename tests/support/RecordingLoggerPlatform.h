#pragma once

// A logger platform of the tests: it records the debugger output and what an event library
// is handed, and answers as the test sets it up: the program's path, the Common Files folder,
// whether the event library loads and how it behaves. Its state is its own, so tests can
// build loggers on several side by side.

#include <stdexcept>
#include <string>
#include <vector>

#include "LoggerPlatform.h"

class RecordingLoggerPlatform : public LoggerPlatform {
  public:
    struct Event {
        int level;
        std::wstring processName;
        std::wstring component;
        std::wstring message;
    };
    // What the event library does with a report: records it, lacks CEReportEventEx (reports
    // go to the debugger output), throws a C++ exception or faults.
    enum class EventMode { Records, Missing, Throws, Faults };

    // The answers.
    std::wstring programPath = L"C:\\tests\\test.exe";
    DWORD programPathError = 0;  // when set, the program's path cannot be found
    HRESULT folderResult = S_OK;
    std::wstring commonFiles = L"C:\\Program Files\\Common Files";
    DWORD loadError = 0;  // when set, the event library cannot be loaded
    EventMode eventMode = EventMode::Records;

    // What was recorded.
    std::vector<Event> events;
    std::vector<std::wstring> debugStrings;
    std::vector<std::wstring> librariesBound;
    int eventCalls = 0;

    void Clear();

    DWORD Fill(wchar_t* buffer, DWORD capacity) override;
    HRESULT CommonFilesFolder(std::wstring* folder) override;
    std::unique_ptr<EventLibrary> BindEventLibrary(const std::wstring& path, DWORD* error) override;
    void Wide(const wchar_t* text) override { debugStrings.emplace_back(text); }
    void Narrow(const char* text) override;
};

// The process-wide logger's platform in a test program (ProcessLoggerPlatform()).
RecordingLoggerPlatform& ProcessRecording();
