#pragma once

#include <cstdint>

// x86 only: the thread's chain of exception registration records, whose head is the first
// field of the thread block (fs:[0]). Records are linked and unlinked by writing the head.
#if !defined(_WIN64)

inline void* ExceptionChainHeadRecord() {
    void* head;
    asm volatile("movl %%fs:0, %0" : "=r"(head));
    return head;
}

inline void SetExceptionChainHead(void* head) {
    asm volatile("movl %0, %%fs:0" : : "r"(head) : "memory");
}

#endif
