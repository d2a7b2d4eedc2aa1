// Crc32 (carry-less folding where the processor has it, tables otherwise) against zlib's
// crc32, whole and chained over a split the input chooses.
#include <zlib.h>

#include "Crc32.h"
#include "Memory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint32_t expected = static_cast<uint32_t>(crc32(0, data, static_cast<uInt>(size)));
    FUZZ_CHECK(Crc32(0, data, size) == expected);
    const size_t split = size > 0 ? data[0] * 97 % (size + 1) : 0;
    FUZZ_CHECK(Crc32(Crc32(0, data, split), data + split, size - split) == expected);
    return 0;
}
