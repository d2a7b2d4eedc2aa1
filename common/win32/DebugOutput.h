#pragma once

// The debugger output channel: where the logger writes a report when no event library is
// bound, and where the path queries that cannot use the logger write their failures. A
// module that writes to it is given the channel where it is built; tests give a recording one.
struct DebugOutputChannel {
    void (*wide)(const wchar_t* text);
    void (*narrow)(const char* text);

    // OutputDebugStringW and OutputDebugStringA.
    static DebugOutputChannel Real();
};
