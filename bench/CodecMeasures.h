#pragma once

// The package bench's measures of the codec's parts alone, in memory.

#include "BenchSet.h"

// The checksum alone, in memory, best of 3: zlib's, the table-driven fallback, and what the
// packager uses (folding where the processor has it).
void MeasureCrc();

// Every stretch of the set judged (StretchShrinks) and deflated alone (zlib level 1): how
// often the verdict matches what deflate makes of it, by bytes, and the time of each.
void MeasureVerdicts(const DataSet& set);
