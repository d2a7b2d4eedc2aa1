#include "LogCapture.h"

#include <iostream>

#include "Text.h"

namespace {

std::vector<LogCapture::Event> events;
std::vector<std::wstring> debugStrings;

int __stdcall RecordEvent(int level, const wchar_t* process, const wchar_t* component,
                          const wchar_t* message) {
    events.push_back({level, process, component, message});
    return 0;
}

void RecordDebugWide(const wchar_t* text) {
    debugStrings.emplace_back(text);
}
void RecordDebugNarrow(const char* text) {
    debugStrings.emplace_back(std::wstring(text, text + std::char_traits<char>::length(text)));
}

}  // namespace

LogCapture::LogCapture(bool withEventLibrary)
    : previousBuffer(std::wcout.rdbuf(stream.rdbuf())),
      previousLogger(nullptr),
      logger(LoggerTesting::Create(Platform(), L"test.exe",
                                   withEventLibrary ? &RecordEvent : nullptr)) {
    events.clear();
    debugStrings.clear();
    previousLogger = LoggerTesting::ExchangeInstance(logger);
}

LoggerPlatform LogCapture::Platform() {
    LoggerPlatform platform = LoggerPlatform::Real();
    platform.debugOutput = {&RecordDebugWide, &RecordDebugNarrow};
    return platform;
}

LogCapture::~LogCapture() {
    LoggerTesting::ExchangeInstance(previousLogger);
    delete logger;
    std::wcout.rdbuf(previousBuffer);
    std::wcout.clear();
}

std::vector<std::wstring> LogCapture::Lines() const {
    return SplitLines(stream.str());
}

const std::vector<LogCapture::Event>& LogCapture::Events() const {
    return events;
}
const std::vector<std::wstring>& LogCapture::DebugStrings() const {
    return debugStrings;
}

std::vector<std::wstring> LogCapture::Messages() const {
    std::vector<std::wstring> messages;
    if (LoggerTesting::ReportEventEx(*logger) != nullptr) {
        for (const Event& e : events) {
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
    events.clear();
    debugStrings.clear();
}
