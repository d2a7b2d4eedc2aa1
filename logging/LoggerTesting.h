#pragma once

// The logger's test surface, for tests and benchmarks only: loggers built on a platform of
// the test's own, their state, and the process-wide instance swapped for one of them.

#include <string>

#include "Logger.h"

struct LoggerTesting {
    // A logger on `platform` named `processName`, reporting to `reportEventEx` (or to the
    // debugger output when null); Init has not run. The caller owns it.
    static LoggerHelper* Create(const LoggerPlatform& platform, const std::wstring& processName,
                                ReportEventExFn reportEventEx) {
        LoggerHelper* logger = new LoggerHelper(platform);
        logger->processName = processName;
        logger->reportEventEx = reportEventEx;
        return logger;
    }

    // Makes `replacement` the process-wide instance and answers the one it replaces, which
    // the caller then owns.
    static LoggerHelper* ExchangeInstance(LoggerHelper* replacement);

    static const std::wstring& ProcessName(const LoggerHelper& l) { return l.processName; }
    static const std::wstring& EventDllPath(const LoggerHelper& l) { return l.eventDllPath; }
    static HMODULE EventDll(const LoggerHelper& l) { return l.eventDll.Get(); }
    static ReportEventExFn ReportEventEx(const LoggerHelper& l) { return l.reportEventEx; }
    static FARPROC ReportEventEx2(const LoggerHelper& l) { return l.reportEventEx2; }
};
