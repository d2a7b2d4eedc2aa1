#include "LogCapture.h"

#include <iostream>

#include "LoggerHelper.h"
#include "Text.h"

LogCapture::LogCapture(bool withEventLibrary)
    : platform(ProcessRecording()), previousBuffer(std::wcout.rdbuf(stream.rdbuf())) {
    // The process-wide logger exists, bound to the recording platform's event library,
    // before anything is captured: its creation is no report of the test's.
    LoggerHelper::Instance();
    platform.Clear();
    platform.eventMode = withEventLibrary ? RecordingLoggerPlatform::EventMode::Records
                                          : RecordingLoggerPlatform::EventMode::Missing;
}

LogCapture::~LogCapture() {
    platform.eventMode = RecordingLoggerPlatform::EventMode::Records;
    platform.Clear();
    std::wcout.rdbuf(previousBuffer);
    std::wcout.clear();
}

std::vector<std::wstring> LogCapture::Lines() const {
    return SplitLines(stream.str());
}

std::vector<std::wstring> LogCapture::Messages() const {
    std::vector<std::wstring> messages;
    if (platform.eventMode != RecordingLoggerPlatform::EventMode::Missing) {
        for (const Event& e : platform.events) {
            messages.push_back(e.message);
        }
        return messages;
    }
    for (const std::wstring& line : Lines()) {
        const size_t first = line.find(L':');
        const size_t second = line.find(L':', first + 1);
        messages.push_back(second == std::wstring::npos ? line : line.substr(second + 1));
    }
    return messages;
}

void LogCapture::Clear() {
    stream.str(std::wstring());
    platform.Clear();
}
