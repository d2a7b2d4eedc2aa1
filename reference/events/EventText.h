#pragma once

// What the reference event library writes for one report.

#include <windows.h>

#include <string>

// Level 1 is an error entry, 2 a warning, every other level an information entry.
WORD EventTypeOf(int level);

// "component: message", or the message alone without a component; null reads as empty.
std::wstring EventText(const wchar_t* component, const wchar_t* message);

// The event source: the reporting process's name, or "Deployment Packager" without one.
const wchar_t* EventSourceOf(const wchar_t* processName);
