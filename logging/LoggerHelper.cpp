#include "LoggerHelper.h"

#include <cstdarg>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include "Guard.h"
#include "LoggerLine.h"
#include "ProcessSingleton.h"

namespace {

constexpr const wchar_t* kEventDllSuffix = L"\\Quorvel\\ZelNSEvent.dll";

// Created by the first report; at exit the lock is deleted first, then the instance destroyed.
ProcessSingleton<LoggerHelper> processLogger;

}  // namespace

LoggerHelper* LoggerHelper::Instance() {
    return processLogger.Get([] {
        LoggerHelper* created = new LoggerHelper(ProcessLoggerPlatform());
        try {
            created->Init();
        } catch (...) {
            delete created;
            throw;
        }
        return created;
    });
}

void LoggerHelper::Init() {
    // The logger names its process without itself: failures go to the debugger output only.
    processName = NameFromPathWithoutLogger(ExecutablePathWithoutLogger(platform, platform).c_str(),
                                            false, platform);
    // One guarded block: a fault in the platform's folder lookup or in the event library's
    // DllMain (where the loader leaves it unhandled) must not take the logger's creation with
    // it. The lock is left normally and the binding is never retried.
    uint32_t fault = 0;
    auto bind = [this] { BindEventLibrary(); };
    if (!RunGuardedCall(bind, &fault)) {
        SelfReport(L"%s", L"LoggerHelper::Init failed");
    }
}

void LoggerHelper::BindEventLibrary() {
    std::wstring folder;
    const HRESULT result = platform.CommonFilesFolder(&folder);
    if (FAILED(result)) {
        SelfReport(L"LoggerHelper::Init GetFolderPath failed with code = %d",
                   static_cast<int>(result));
        return;
    }
    eventDllPath = folder + kEventDllSuffix;
    DWORD error = 0;
    eventLibrary = platform.BindEventLibrary(eventDllPath, &error);
    if (!eventLibrary) {
        SelfReport(L"LoggerHelper::Init cannot load ZelNSEvent.dll, error = %d. ",
                   static_cast<int>(error));
    }
}

void LoggerHelper::Report(int level, const wchar_t* component, const wchar_t* message) {
    const wchar_t* componentText = component != nullptr ? component : L"";
    std::wstring& line = LineBuffer();
    ComposeLine(line, processName.c_str(), componentText, message);
    // Flushed at once: an agent that kills a hung run still finds every report made before
    // the kill in the output it captured.
    std::wcout << line;
    std::wcout.flush();
    if (ReportsToEventLibrary()) {
        eventLibrary->Report(level, processName.c_str(), componentText, message);
    } else {
        platform.Wide(line.c_str());
    }
}

void LoggerHelper::SelfReport(const wchar_t* format, ...) {
    try {
        wchar_t buffer[kReportBufferSize];
        va_list args;
        va_start(args, format);
        FormatInto(buffer, kReportBufferSize, format, args);
        va_end(args);
        // Not flushed here: a self report comes only from Init, inside the report that
        // creates the logger, whose own line flushes both.
        const std::wstring line = std::wstring(L"LoggerHelper: ") + buffer + L"\n";
        std::wcout << line;
        platform.Wide(line.c_str());
    } catch (const std::exception& e) {
        const std::string text = std::string("LoggerHelper: exception:") + e.what() + "\n";
        platform.Narrow(text.c_str());
    } catch (...) {
        platform.Narrow("LoggerHelper: unexpected exception during reporting\n");
    }
}
