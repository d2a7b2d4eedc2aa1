#pragma once

// Code that handles its own exceptions the way code from other compilers does: with frame
// handlers of its own on the stack (x86: records on the thread's exception chain; x64:
// handlers named in the unwind data). The test doubles and the guard's tests call into it to
// see that the program's fault guard leaves such code alone, and what it leaves behind when
// it does step in.

// The value a repaired read answers.
inline constexpr int kRepairedRead = 0x5EAF00D;

// Reads *address inside a frame whose handler repairs an access violation by pointing the
// read at kRepairedRead and resuming: an unreadable address answers kRepairedRead, handled
// entirely by this code.
int ReadRepairingFaults(const int* address);

// Calls `function` inside a frame whose handler declines every exception it is shown, and
// counts the calls it gets while frames are being unwound.
void CallUnderDecliningHandler(void (*function)());
int DecliningHandlerUnwinds();

// x86: true when every record on the thread's exception chain lies above the current stack
// pointer and below the stack base, in ascending order, up to the end marker. x64 has no
// chain: always true.
bool ExceptionChainIsWhole();

// The chain's head (null on x64), to compare before and after a call.
void* ExceptionChainHead();
