#include "Logger.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <sstream>
#include <string>

#include "Guard.h"
#include "LoggerHelper.h"
#include "LoggerLine.h"
#include "WideOutput.h"

namespace {

constexpr const wchar_t* kLoggerComponent = L"Logger";

// Static initialisation installs the wide output stream before any report can be made.
struct WideOutputInstaller {
    WideOutputInstaller() { InstallReplacingWideOutput(); }
} wideOutputInstaller;

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
        RealDebugOutput().Wide(line.c_str());
    }
}

thread_local int traceDepth = 0;

struct TraceReport {
    const std::wstring* text;
};

void ReportTrace(void* context) {
    const TraceReport* trace = static_cast<TraceReport*>(context);
    if (LoggerHelper* logger = LoggerHelper::Instance()) {
        logger->Report(kLevelError, kLoggerComponent, trace->text->c_str());
    }
}

// The trace's text; empty when even composing it failed.
std::wstring TraceText(const wchar_t* format, const uint32_t* code) {
    try {
        std::wostringstream composed;
        composed << L"Logger::Trace: unexpected exception during reporting. " << L'\n';
        if (format != nullptr && format[0] != L'\0') {
            composed << L"Format  string: " << format << L'\n';
        }
        if (code != nullptr) {
            composed << L"Error code: 0x" << std::hex << std::uppercase << *code << L'\n';
        }
        return composed.str();
    } catch (...) {
        return std::wstring();
    }
}

}  // namespace

void FormatInto(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args) {
    // The C runtime's own _vsnwprintf: "%s" in a wide format takes a wide string, and on
    // overflow it writes exactly `count` characters without a terminator.
    const int written = _vsnwprintf(buffer, capacity - 1, format, args);
    if (written < 0 || static_cast<size_t>(written) >= capacity - 1) {
        buffer[capacity - 1] = L'\0';
    }
}

std::wstring& LineBuffer() {
    thread_local std::wstring line;
    return line;
}

void ComposeLine(std::wstring& line, const wchar_t* processName, const wchar_t* component,
                 const wchar_t* message) {
    line.assign(processName).append(L":").append(component).append(L":").append(message);
    line.push_back(L'\n');
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

void Logger::Trace(const wchar_t* format, const uint32_t* code) {
    // The instance was made (or failed to be) by the report that failed; asking again must
    // not let a second failure out.
    LoggerHelper* instance = nullptr;
    uint32_t ignored = 0;
    auto find = [&] { instance = LoggerHelper::Instance(); };
    RunGuardedCall(find, &ignored);
    RealDebugOutput real;
    DebugOutput& debugOutput =
        instance != nullptr ? static_cast<DebugOutput&>(instance->Platform()) : real;
    const std::wstring text = TraceText(format, code);
    if (text.empty()) {
        debugOutput.Narrow("LoggerHelper: unexpected exception during reporting\n");
        return;
    }
    debugOutput.Wide(text.c_str());
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
        debugOutput.Wide(note);
    }
    --traceDepth;
}
