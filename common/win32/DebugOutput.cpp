#include "DebugOutput.h"

#include <windows.h>

void RealDebugOutput::Wide(const wchar_t* text) {
    OutputDebugStringW(text);
}

void RealDebugOutput::Narrow(const char* text) {
    OutputDebugStringA(text);
}
