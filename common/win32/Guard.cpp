#include "Guard.h"

#include <windows.h>

#include <cstdint>

#include "ExceptionChain.h"

// The compiler has no __try, so the guard builds the frame-based handler that __except
// would: a handler on the guarded frame itself. Windows (and Wine) dispatch an exception to
// frame handlers from the innermost frame outwards, so everything the called code handles
// itself never reaches this one.

namespace {

bool IsTaken(DWORD code) {
    // Warning and error severities are faults; informational and success codes are
    // notifications (debugger output, thread names, the compiler's own C++ unwinding) that
    // their raiser expects to come back. A stack overflow leaves no stack to continue on.
    return (code & 0x80000000u) != 0 && code != EXCEPTION_STACK_OVERFLOW;
}

bool IsUnwinding(const EXCEPTION_RECORD* record) {
    return (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0;
}

}  // namespace

#if defined(_WIN64)

// x64: the frame handler is named in the guarded function's unwind data, as the compiler
// would name __C_specific_handler. It unwinds to the landing point like __except does
// (RtlUnwindEx runs the handlers of the frames in between and restores the guarded frame),
// and the exception code arrives there in eax. A normal return answers 0, which no taken
// code is. The instruction after the call must not start an epilogue (add rsp; pop; ret):
// the unwinder would take the return address for one and skip the frame's handler.
extern "C" uint32_t dp_guarded_call(void (*function)(void*), void* context);
extern "C" void dp_guarded_call_landing();

extern "C" EXCEPTION_DISPOSITION dp_guard_frame_handler(EXCEPTION_RECORD* record,
                                                        void* establisherFrame, CONTEXT*,
                                                        DISPATCHER_CONTEXT* dispatch) {
    if (IsUnwinding(record) || !IsTaken(record->ExceptionCode)) {
        return ExceptionContinueSearch;
    }
    RtlUnwindEx(establisherFrame, reinterpret_cast<void*>(&dp_guarded_call_landing), record,
                reinterpret_cast<void*>(static_cast<uintptr_t>(record->ExceptionCode)),
                dispatch->ContextRecord, dispatch->HistoryTable);
    return ExceptionContinueSearch;  // not reached: RtlUnwindEx resumes at the landing point
}

asm(R"(
    .text
    .globl dp_guarded_call
    .globl dp_guarded_call_landing
    .def dp_guarded_call; .scl 2; .type 32; .endef
    .seh_proc dp_guarded_call
dp_guarded_call:
    pushq %rbp
    .seh_pushreg %rbp
    subq $32, %rsp
    .seh_stackalloc 32
    .seh_endprologue
    .seh_handler dp_guard_frame_handler, @except
    movq %rcx, %rax
    movq %rdx, %rcx
    callq *%rax
    xorl %eax, %eax
dp_guarded_call_landing:
    addq $32, %rsp
    popq %rbp
    ret
    .seh_endproc
)");

namespace {

uint32_t CallOnGuardedFrame(void (*function)(void*), void* context) {
    return dp_guarded_call(function, context);
}

// No exception chain on x64: frames are found through the unwind data.
void* ChainHead() {
    return nullptr;
}
void SetChainHead(void*) {}

}  // namespace

#else

// x86: the frame handler is a registration record on the thread's exception chain
// (fs:[0]), linked for the duration of the call, as compiled __try code does. When it takes
// an exception it first has RtlUnwind call the inner records' handlers with the unwinding
// flag and take them off the chain, then jumps back to the guarded frame; the chain head is
// then restored to its value before the call, so no record is left pointing into abandoned
// stack (Windows with SEHOP validates the whole chain before dispatching later exceptions).

namespace {

struct GuardRecord {
    // The registration record must come first: the system passes its address as the
    // establisher frame.
    GuardRecord* next;
    void* handler;
    void* jumpBuffer[5];
    uint32_t code;
};

void* ChainHead() {
    return ExceptionChainHeadRecord();
}

void SetChainHead(void* head) {
    SetExceptionChainHead(head);
}

extern "C" EXCEPTION_DISPOSITION __cdecl GuardRecordHandler(EXCEPTION_RECORD* record,
                                                            void* establisherFrame, CONTEXT*,
                                                            void*) {
    if (IsUnwinding(record) || !IsTaken(record->ExceptionCode)) {
        return ExceptionContinueSearch;
    }
    GuardRecord* guard = static_cast<GuardRecord*>(establisherFrame);
    guard->code = record->ExceptionCode;
    RtlUnwind(establisherFrame, nullptr, record, nullptr);
    // Like __except, the dispatcher's frames are abandoned: control goes back to the frame
    // that linked the record.
    __builtin_longjmp(guard->jumpBuffer, 1);
}

// Kept out of line: the jump target must be a frame that holds nothing to destroy.
__attribute__((noinline)) uint32_t CallOnGuardedFrame(void (*function)(void*), void* context) {
    GuardRecord guard{};
    guard.handler = reinterpret_cast<void*>(&GuardRecordHandler);
    guard.next = static_cast<GuardRecord*>(ChainHead());
    if (__builtin_setjmp(guard.jumpBuffer) != 0) {
        SetChainHead(guard.next);
        return static_cast<volatile GuardRecord&>(guard).code;
    }
    SetChainHead(&guard);
    function(context);
    SetChainHead(guard.next);
    return 0;
}

}  // namespace

#endif

bool RunGuarded(void (*function)(void*), void* context, uint32_t* code) {
    void* const chainHead = ChainHead();
    uint32_t taken = 0;
    try {
        taken = CallOnGuardedFrame(function, context);
    } catch (...) {
        // This program's C++ exceptions unwind by tables, past any record the call linked on
        // x86: put the chain back as it was.
        SetChainHead(chainHead);
        taken = kCppExceptionCode;
    }
    if (taken == 0) {
        return true;
    }
    if (code != nullptr) {
        *code = taken;
    }
    return false;
}
