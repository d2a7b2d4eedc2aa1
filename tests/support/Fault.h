#pragma once

// The one deliberate fault of the tests and the test doubles: a real access violation
// (0xC0000005), raised by the processor on a page reserved without any access. The address
// comes from the system at run time, so no undefined behaviour is involved and the compiler
// can neither drop the access nor turn it into anything else.

// Writes to the unreadable page.
void RaiseAccessViolation();

// An address in that page, for handing out a pointer that cannot be read.
const void* UnreadableAddress();
