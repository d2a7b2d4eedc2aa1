#pragma once

#include <cstddef>
#include <cstdint>

// CRC-32 as ZIP (and zlib's crc32) define it: reflected polynomial 0xEDB88320, initial and
// final value inverted. Crc32(Crc32(0, a), b) is the CRC of a followed by b.
//
// With PCLMULQDQ (checked once at run time) the bulk is folded 64 bytes at a time with
// carry-less multiplication; otherwise, and for the head and tail, eight tables of 256 entries
// take eight bytes a step.
uint32_t Crc32(uint32_t crc, const void* data, size_t size);

// The same with the tables only, whatever the processor offers (for tests and comparison).
uint32_t Crc32Tables(uint32_t crc, const void* data, size_t size);

// The CRC of a followed by b, from Crc32 of each alone and b's length (below 2 GiB: zlib's
// length type is 32 bits on Windows).
uint32_t Crc32Combine(uint32_t crcA, uint32_t crcB, size_t lengthB);
