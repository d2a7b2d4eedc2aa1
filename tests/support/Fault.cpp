#include "Fault.h"

#include <windows.h>

const void* UnreadableAddress() {
    static void* const page = VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS);
    return page;
}

__attribute__((noinline)) void RaiseAccessViolation() {
    *static_cast<volatile int*>(const_cast<void*>(UnreadableAddress())) = 1;
}
