#include "DebugOutput.h"

#include <windows.h>

namespace {

void Wide(const wchar_t* text) {
    OutputDebugStringW(text);
}

void Narrow(const char* text) {
    OutputDebugStringA(text);
}

}  // namespace

DebugOutputChannel DebugOutputChannel::Real() {
    return {&Wide, &Narrow};
}
