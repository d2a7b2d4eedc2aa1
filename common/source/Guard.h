#pragma once

#include <cstdint>

// Code reported for a C++ exception caught by RunGuarded: the code Windows' own C++ runtime
// raises for a thrown exception, so that logs read the same whichever compiler built the
// code that threw.
constexpr uint32_t kCppExceptionCode = 0xE06D7363u;

// Runs `function(context)` so that a processor fault (access violation, division by zero,
// ...) or a thrown C++ exception inside it ends the call instead of the process.
// Returns true when the call returned normally. Otherwise returns false and stores the
// fault's exception code (kCppExceptionCode for a C++ exception) in `*code`.
//
// A fault leaves `function`'s frames without running their destructors, so the guarded
// call must not own anything whose clean-up matters (the guard is meant for a plain call
// into foreign or formatting code). Guards nest; faults are attributed to the innermost one
// on the current thread. Stack overflows are not caught.
bool RunGuarded(void (*function)(void*), void* context, uint32_t* code);

// The same for a callable, through RunGuarded.
template <typename Callable>
bool RunGuardedCall(Callable& callable, uint32_t* code) {
    return RunGuarded([](void* c) { (*static_cast<Callable*>(c))(); }, &callable, code);
}
