#include "DebugOutput.h"

#include <windows.h>

namespace {

void (*wideSink)(const wchar_t*) = nullptr;
void (*narrowSink)(const char*) = nullptr;

}  // namespace

void DebugOutput(const wchar_t* text) {
    if (wideSink != nullptr) {
        wideSink(text);
    } else {
        OutputDebugStringW(text);
    }
}

void DebugOutputNarrow(const char* text) {
    if (narrowSink != nullptr) {
        narrowSink(text);
    } else {
        OutputDebugStringA(text);
    }
}

void SetDebugOutputForTesting(void (*wide)(const wchar_t*), void (*narrow)(const char*)) {
    wideSink = wide;
    narrowSink = narrow;
}
