#include "Logger.h"

#include <iostream>

#include "Guard.h"
#include "LoggerTesting.h"
#include "ProcessSingleton.h"
#include "WideOutput.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <exception>
#include <new>
#include <sstream>
#include <string>

namespace {

constexpr const wchar_t* kLoggerComponent = L"Logger";
constexpr const wchar_t* kEventDllSuffix = L"\\Quorvel\\ZelNSEvent.dll";

// Static initialisation, in this order: the wide output stream, then the logger's instance
// holder with its lock. At exit the lock is deleted first, then the instance destroyed.
struct WideOutputInstaller {
    WideOutputInstaller() { InstallReplacingWideOutput(); }
} wideOutputInstaller;

ProcessSingleton<LoggerHelper> processLogger;

HRESULT RealCommonFilesFolder(wchar_t** folder) {
    return SHGetKnownFolderPath(FOLDERID_ProgramFilesCommon, 0, nullptr, folder);
}

// Formats at most `capacity - 1` characters into `buffer` and always terminates it.
void FormatInto(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args) {
    // The C runtime's own _vsnwprintf: "%s" in a wide format takes a wide string, and on
    // overflow it writes exactly `count` characters without a terminator.
    const int written = _vsnwprintf(buffer, capacity - 1, format, args);
    if (written < 0 || static_cast<size_t>(written) >= capacity - 1) {
        buffer[capacity - 1] = L'\0';
    }
}

// A report's line is composed in a buffer that outlives the report: a fault in the guarded
// block (in the event library, say) abandons the frames inside it without running their
// destructors, and nothing allocated for one report may be left behind by it.
std::wstring& LineBuffer() {
    thread_local std::wstring line;
    return line;
}

void ComposeLine(std::wstring& line, const wchar_t* processName, const wchar_t* component,
                 const wchar_t* message) {
    line.assign(processName).append(L":").append(component).append(L":").append(message);
    line.push_back(L'\n');
}

struct ReportCall {
    int level;
    const wchar_t* component;
    const wchar_t* format;
    va_list* args;
    wchar_t* buffer;
};

void FormatAndReport(void* context) {
    ReportCall* call = static_cast<ReportCall*>(context);
    FormatInto(call->buffer, kReportFormatCapacity, call->format, *call->args);
    if (LoggerHelper* logger = LoggerHelper::Instance()) {
        logger->Report(call->level, call->component, call->buffer);
    } else {
        // Only after the exit clean-up: the line still reaches the debugger output.
        std::wstring& line = LineBuffer();
        ComposeLine(line, L"", call->component != nullptr ? call->component : L"", call->buffer);
        DebugOutputChannel::Real().wide(line.c_str());
    }
}

thread_local int traceDepth = 0;

}  // namespace

LoggerPlatform LoggerPlatform::Real() {
    return {&GetModuleFileNameW, &RealCommonFilesFolder, DebugOutputChannel::Real()};
}

void LogReport(int level, const wchar_t* component, const wchar_t* format, ...) {
    // A plain array in this frame: the guarded call may be abandoned at any point.
    // Callers report first and set or read the last error afterwards; reporting must not
    // change it under them.
    const DWORD lastError = GetLastError();
    wchar_t buffer[kReportBufferSize];
    buffer[0] = L'\0';
    va_list args;
    va_start(args, format);
    ReportCall call{level, component, format, &args, buffer};
    uint32_t code = 0;
    const bool reported = RunGuarded(&FormatAndReport, &call, &code);
    va_end(args);
    if (!reported) {
        Logger::Trace(nullptr, &code);
        Logger::Trace(format, nullptr);
    }
    SetLastError(lastError);
}

LoggerHelper* LoggerHelper::Instance() {
    return processLogger.Get([] {
        LoggerHelper* created = new LoggerHelper(LoggerPlatform::Real());
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
    eventDllPath.clear();
    eventDll.Reset();
    reportEventEx = nullptr;
    reportEventEx2 = nullptr;
    // The logger names its process without itself: failures go to the debugger output only.
    processName = NameFromPathWithoutLogger(
        ExecutablePathWithoutLogger(platform.moduleFileName, platform.debugOutput).c_str(), false,
        platform.debugOutput);

    // Steps (a) to (d) run in one guarded block: a fault in the platform's folder lookup or
    // in the event library's DllMain (where the loader leaves it unhandled) must not take the
    // logger's creation with it. The lock is left normally and the binding is never retried.
    wchar_t* folder = nullptr;
    auto bind = [&] {
        const HRESULT result = platform.commonFilesFolder(&folder);
        if (FAILED(result)) {
            SelfReport(L"LoggerHelper::Init GetFolderPath failed with code = %d",
                       static_cast<int>(result));
        } else {
            eventDllPath = std::wstring(folder) + kEventDllSuffix;
        }
        if (!eventDllPath.empty()) {
            eventDll.Reset(LoadLibraryW(eventDllPath.c_str()));
            if (eventDll) {
                reportEventEx = FunctionCast<ReportEventExFn>(
                    GetProcAddress(eventDll.Get(), "CEReportEventEx"));
                reportEventEx2 = GetProcAddress(eventDll.Get(), "CEReportEventEx2");
            } else {
                const DWORD code = GetLastError();
                SelfReport(L"LoggerHelper::Init cannot load ZelNSEvent.dll, error = %d. ",
                           static_cast<int>(code));
            }
        }
    };
    uint32_t fault = 0;
    if (!RunGuardedCall(bind, &fault)) {
        SelfReport(L"%s", L"LoggerHelper::Init failed");
    }
    UniqueCoTaskMemory folderText(folder);
}

void LoggerHelper::Report(int level, const wchar_t* component, const wchar_t* message) {
    const wchar_t* componentText = component != nullptr ? component : L"";
    std::wstring& line = LineBuffer();
    ComposeLine(line, processName.c_str(), componentText, message);
    // Flushed at once: an agent that kills a hung run still finds every report made before
    // the kill in the output it captured.
    std::wcout << line;
    std::wcout.flush();
    if (reportEventEx != nullptr) {
        reportEventEx(level, processName.c_str(), componentText, message);
    } else {
        platform.debugOutput.wide(line.c_str());
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
        platform.debugOutput.wide(line.c_str());
    } catch (const std::exception& e) {
        const std::string text = std::string("LoggerHelper: exception:") + e.what() + "\n";
        platform.debugOutput.narrow(text.c_str());
    } catch (...) {
        platform.debugOutput.narrow("LoggerHelper: unexpected exception during reporting\n");
    }
}

// The entry points go before the library they point into.
LoggerHelper::~LoggerHelper() {
    reportEventEx = nullptr;
    reportEventEx2 = nullptr;
    eventDll.Reset();
}

LoggerHelper* LoggerTesting::ExchangeInstance(LoggerHelper* replacement) {
    return processLogger.Exchange(replacement);
}

namespace {

struct TraceReport {
    const std::wstring* text;
};

void ReportTrace(void* context) {
    const TraceReport* trace = static_cast<TraceReport*>(context);
    if (LoggerHelper* logger = LoggerHelper::Instance()) {
        logger->Report(kLevelError, kLoggerComponent, trace->text->c_str());
    }
}

}  // namespace

void Logger::Trace(const wchar_t* format, const uint32_t* code) {
    // The instance was made (or failed to be) by the report that failed; asking again must
    // not let a second failure out.
    LoggerHelper* instance = nullptr;
    uint32_t ignored = 0;
    auto find = [&] { instance = LoggerHelper::Instance(); };
    RunGuardedCall(find, &ignored);
    const DebugOutputChannel debugOutput =
        instance != nullptr ? instance->platform.debugOutput : DebugOutputChannel::Real();
    std::wstring text;
    try {
        std::wostringstream composed;
        composed << L"Logger::Trace: unexpected exception during reporting. " << L'\n';
        if (format != nullptr && format[0] != L'\0') {
            composed << L"Format  string: " << format << L'\n';
        }
        if (code != nullptr) {
            composed << L"Error code: 0x" << std::hex << std::uppercase << *code << L'\n';
        }
        text = composed.str();
    } catch (...) {
        debugOutput.narrow("LoggerHelper: unexpected exception during reporting\n");
        return;
    }
    debugOutput.wide(text.c_str());
    if (traceDepth > 0) {
        // A trace's own report failed: its text is already in the debugger output.
        return;
    }
    ++traceDepth;
    TraceReport trace{&text};
    uint32_t nestedCode = 0;
    if (!RunGuarded(&ReportTrace, &trace, &nestedCode)) {
        wchar_t note[96];
        std::swprintf(note, 96, L"Logger::Trace: the trace's own report failed. Error code: 0x%X\n",
                      static_cast<unsigned>(nestedCode));
        debugOutput.wide(note);
    }
    --traceDepth;
}
