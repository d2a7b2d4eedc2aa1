#pragma once

// What the package bench's measures share: a clock, timings over rounds, and the data set in
// the current folder's vendor\.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "WinResources.h"

inline double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The best of a run of timings, and how far the worst lies above it.
struct Timings {
    std::vector<double> seconds;
    double Best() const { return *std::min_element(seconds.begin(), seconds.end()); }
    double Spread() const {
        return (*std::max_element(seconds.begin(), seconds.end()) - Best()) / Best();
    }
};

inline void Line(const char* what, const Timings& t, double mib) {
    std::printf("%-30s %7.3f s  %6.0f MiB/s  (spread %.0f%% over %zu rounds)\n", what, t.Best(),
                mib / t.Best(), 100 * t.Spread(), t.seconds.size());
}

struct DataSet {
    std::vector<std::wstring> names;  // under vendor\, sorted
    uint64_t bytes = 0;
    double Mib() const { return static_cast<double>(bytes) / (1 << 20); }
};

// The files under the current folder's vendor\, sorted by name.
inline DataSet ListSet() {
    DataSet set;
    WIN32_FIND_DATAW data;
    const UniqueFind find(FindFirstFileW(L"vendor\\*", &data));
    while (find) {
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            set.names.push_back(data.cFileName);
            set.bytes += (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
        }
        if (!FindNextFileW(find.Get(), &data)) {
            break;
        }
    }
    std::sort(set.names.begin(), set.names.end());
    return set;
}
