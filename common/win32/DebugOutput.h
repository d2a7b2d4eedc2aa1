#pragma once

// The debugger output channel: OutputDebugStringW / OutputDebugStringA, or the sinks a test
// installs in their place.
void DebugOutput(const wchar_t* text);
void DebugOutputNarrow(const char* text);

// Null restores the platform's functions.
void SetDebugOutputForTesting(void (*wide)(const wchar_t*), void (*narrow)(const char*));
