#include "Guard.h"

#include <windows.h>

#include <cstdint>

namespace {

struct GuardFrame {
    GuardFrame* outer;
    void* jumpBuffer[5];
    volatile uint32_t code;
};

thread_local GuardFrame* innermost = nullptr;

bool IsCatchableFault(DWORD code) {
    // System error codes only: severity "error" with the customer bit clear. Informational
    // codes (debugger output), the compiler's own C++ unwinding code and stack overflows
    // (which leave no stack to land on) are not ours to take.
    const bool systemError = (code & 0xC0000000u) == 0xC0000000u && (code & 0x20000000u) == 0;
    return systemError && code != EXCEPTION_STACK_OVERFLOW;
}

[[noreturn]] void LandAfterFault() {
    __builtin_longjmp(innermost->jumpBuffer, 1);
}

// Resumes the faulting thread at LandAfterFault instead of unwinding from inside the
// exception dispatcher: the dispatch completes normally and the jump back to the guard
// starts from ordinary code.
LONG CALLBACK OnException(EXCEPTION_POINTERS* info) {
    GuardFrame* frame = innermost;
    const DWORD code = info->ExceptionRecord->ExceptionCode;
    if (frame == nullptr || !IsCatchableFault(code)) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    frame->code = code;
    CONTEXT* context = info->ContextRecord;
#if defined(_WIN64)
    context->Rsp = ((context->Rsp - 256) & ~static_cast<DWORD64>(15)) - 8;
    context->Rip = reinterpret_cast<DWORD64>(&LandAfterFault);
#else
    context->Esp = ((context->Esp - 256) & ~static_cast<DWORD>(15)) - 4;
    context->Eip = reinterpret_cast<DWORD>(&LandAfterFault);
#endif
    return EXCEPTION_CONTINUE_EXECUTION;
}

void EnsureHandlerInstalled() {
    static PVOID handler = AddVectoredExceptionHandler(1, &OnException);
    (void)handler;
}

// Kept out of line: the jump target must be a frame that holds nothing to destroy.
__attribute__((noinline)) bool RunWithJump(GuardFrame* frame, void (*function)(void*),
                                           void* context) {
    if (__builtin_setjmp(frame->jumpBuffer) != 0) {
        innermost = frame->outer;
        return false;
    }
    function(context);
    innermost = frame->outer;
    return true;
}

}  // namespace

bool RunGuarded(void (*function)(void*), void* context, uint32_t* code) {
    EnsureHandlerInstalled();
    GuardFrame frame{};
    frame.outer = innermost;
    frame.code = 0;
    try {
        innermost = &frame;
        if (RunWithJump(&frame, function, context)) {
            return true;
        }
        if (code != nullptr) {
            *code = frame.code;
        }
        return false;
    } catch (...) {
        innermost = frame.outer;
        if (code != nullptr) {
            *code = kCppExceptionCode;
        }
        return false;
    }
}
