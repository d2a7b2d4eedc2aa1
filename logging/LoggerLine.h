#pragma once

// How a report becomes text, shared by LogReport and the logger.

#include <cstdarg>
#include <cstddef>
#include <string>

// Formats at most `capacity - 1` characters into `buffer` and always terminates it.
void FormatInto(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args);

// A report's line is composed in a buffer that outlives the report: a fault in the guarded
// block (in the event library, say) abandons the frames inside it without running their
// destructors, and nothing allocated for one report may be left behind by it.
std::wstring& LineBuffer();

// "processName:component:message\n".
void ComposeLine(std::wstring& line, const wchar_t* processName, const wchar_t* component,
                 const wchar_t* message);
