#pragma once

#include <cstdint>

// Code reported for a C++ exception caught by RunGuarded: the code Windows' own C++ runtime
// raises for a thrown exception, so that logs read the same whichever compiler built the
// code that threw.
constexpr uint32_t kCppExceptionCode = 0xE06D7363u;

// Runs `function(context)` the way a `__try { ... } __except (filter) { ... }` block runs it,
// so that a fault the called code leaves unhandled ends the call instead of the process.
// Returns true when the call returned normally. Otherwise returns false and stores the
// exception's code (kCppExceptionCode for a C++ exception thrown by this program's own code)
// in `*code`.
//
// What it takes: an exception of warning or error severity (access violations, division by
// zero, illegal instructions, a delay-load failure, another compiler's C++ exception, ...)
// that reaches the guard's own frame, that is, one that no handler inside the call took,
// and a C++ exception thrown by this program's code.
// What it leaves to the code inside: every exception that code handles itself. Its own
// handlers, the platform's parameter probes (IsBadReadPtr and the like) and the loader's
// handling of a faulting DllMain see each exception before the guard does, as with
// `__except`. Informational and success codes (debugger output, the compiler's own C++
// unwinding) and stack overflows are never taken.
//
// Before execution continues after a taken exception, the frames inside the call are
// unwound (their handlers are called with the unwinding flag), and on x86 the thread's
// exception chain is back where it was before the call. Destructors of this program's own
// frames inside the call do not run (GCC's unwinder leaves exceptions it did not throw alone),
// so the call must not own anything whose clean-up matters: the guard is meant for a plain
// call into foreign or formatting code.
// Guards nest: the innermost one takes the exception.
bool RunGuarded(void (*function)(void*), void* context, uint32_t* code);

// The same for a callable, through RunGuarded.
template <typename Callable>
bool RunGuardedCall(Callable& callable, uint32_t* code) {
    return RunGuarded([](void* c) { (*static_cast<Callable*>(c))(); }, &callable, code);
}
