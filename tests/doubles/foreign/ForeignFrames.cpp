#include "ForeignFrames.h"

#include <windows.h>

#include <cstdint>

#include "ExceptionChain.h"

namespace {

int repairedValue = kRepairedRead;
volatile LONG unwinds = 0;

bool Unwinding(const EXCEPTION_RECORD* record) {
    return (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0;
}

}  // namespace

int DecliningHandlerUnwinds() {
    return unwinds;
}

#if defined(_WIN64)

extern "C" int dp_read_repairing(const int* address);
extern "C" void dp_call_declining(void (*function)());

extern "C" EXCEPTION_DISPOSITION dp_repair_handler(EXCEPTION_RECORD* record, void*,
                                                   CONTEXT* context, void*) {
    if (Unwinding(record) || record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION) {
        return ExceptionContinueSearch;
    }
    context->Rax = reinterpret_cast<DWORD64>(&repairedValue);
    return ExceptionContinueExecution;
}

extern "C" EXCEPTION_DISPOSITION dp_declining_handler(EXCEPTION_RECORD* record, void*, CONTEXT*,
                                                      void*) {
    if (Unwinding(record)) {
        InterlockedIncrement(&unwinds);
    }
    return ExceptionContinueSearch;
}

// dp_read_through is a leaf: the read that faults goes through rax, which the repair
// handler re-points before the instruction runs again. The nop after each call keeps the
// return address out of what the unwinder reads as an epilogue (add rsp; ret), where it
// would skip the frame's handler.
asm(R"(
    .text
dp_read_through:
    movq %rcx, %rax
    movl (%rax), %eax
    ret

    .globl dp_read_repairing
    .def dp_read_repairing; .scl 2; .type 32; .endef
    .seh_proc dp_read_repairing
dp_read_repairing:
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    .seh_handler dp_repair_handler, @except
    callq dp_read_through
    nop
    addq $40, %rsp
    ret
    .seh_endproc

    .globl dp_call_declining
    .def dp_call_declining; .scl 2; .type 32; .endef
    .seh_proc dp_call_declining
dp_call_declining:
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    .seh_handler dp_declining_handler, @except, @unwind
    callq *%rcx
    nop
    addq $40, %rsp
    ret
    .seh_endproc
)");

int ReadRepairingFaults(const int* address) {
    return dp_read_repairing(address);
}

void CallUnderDecliningHandler(void (*function)()) {
    dp_call_declining(function);
}

bool ExceptionChainIsWhole() {
    return true;
}

void* ExceptionChainHead() {
    return nullptr;
}

#else

namespace {

struct Registration {
    Registration* next;
    void* handler;
};

Registration* Head() {
    return static_cast<Registration*>(ExceptionChainHeadRecord());
}

void Link(Registration* record) {
    record->next = Head();
    SetExceptionChainHead(record);
}

void Unlink(Registration* record) {
    SetExceptionChainHead(record->next);
}

extern "C" EXCEPTION_DISPOSITION __cdecl RepairHandler(EXCEPTION_RECORD* record, void*,
                                                       CONTEXT* context, void*) {
    if (Unwinding(record) || record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION) {
        return ExceptionContinueSearch;
    }
    context->Eax = reinterpret_cast<DWORD>(&repairedValue);
    return ExceptionContinueExecution;
}

extern "C" EXCEPTION_DISPOSITION __cdecl DecliningHandler(EXCEPTION_RECORD* record, void*, CONTEXT*,
                                                          void*) {
    if (Unwinding(record)) {
        InterlockedIncrement(&unwinds);
    }
    return ExceptionContinueSearch;
}

}  // namespace

extern "C" int dp_read_through(const int* address);

// The read that faults goes through eax, which the repair handler re-points before the
// instruction runs again.
asm(R"(
    .text
_dp_read_through:
    movl 4(%esp), %eax
    movl (%eax), %eax
    ret
)");

__attribute__((noinline)) int ReadRepairingFaults(const int* address) {
    Registration record{nullptr, reinterpret_cast<void*>(&RepairHandler)};
    Link(&record);
    const int value = dp_read_through(address);
    Unlink(&record);
    return value;
}

__attribute__((noinline)) void CallUnderDecliningHandler(void (*function)()) {
    Registration record{nullptr, reinterpret_cast<void*>(&DecliningHandler)};
    Link(&record);
    function();
    Unlink(&record);
}

// The thread's stack base: the second field of the thread block (fs:[4]).
uintptr_t ThreadStackBase() {
    uintptr_t base;
    asm volatile("movl %%fs:4, %0" : "=r"(base));
    return base;
}

bool ExceptionChainIsWhole() {
    volatile int marker = 0;
    uintptr_t below = reinterpret_cast<uintptr_t>(&marker);
    const uintptr_t base = ThreadStackBase();
    const Registration* record = Head();
    while (reinterpret_cast<uintptr_t>(record) != 0xFFFFFFFFu) {
        const uintptr_t at = reinterpret_cast<uintptr_t>(record);
        if (at <= below || at >= base) {
            return false;
        }
        below = at;
        record = record->next;
    }
    return true;
}

void* ExceptionChainHead() {
    return Head();
}

#endif
