#pragma once

// Report levels: single bits, passed through unchanged (the logger never filters).
inline constexpr int kLevelError = 1;
inline constexpr int kLevelWarning = 2;
inline constexpr int kLevelInfo = 4;
inline constexpr int kLevelTrace = 8;

// The one report call of the program. Formats `format` printf-style ("%s" takes a wide
// string, "%d" a 32-bit integer; a message holds at most 4094 characters, longer output is
// cut) and writes the line "processName:component:message\n" to std::wcout, flushed at once,
// then hands the report to the event library when it is bound, or the whole line to the
// debugger output when it is not. `component` may be null (written as ""). Never fails its
// caller: a fault or exception while formatting or reporting is caught and described by two
// traces under "Logger". The thread's last-error code is left as it was.
void LogReport(int level, const wchar_t* component, const wchar_t* format, ...);
