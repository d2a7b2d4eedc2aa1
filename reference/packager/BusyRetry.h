#pragma once

#include <windows.h>

// Calls `attempt` (which answers 0 or the platform's error code of its failure) until it
// succeeds or fails for a reason other than a busy file, and answers its last result. A file
// that another run is renaming, or that a virus scanner or an indexer has opened for a
// moment, answers a sharing, lock or access error; the pauses between tries grow from 10 ms
// to half a second, about 2.6 s in all, after which the error stands.
template <typename Attempt>
DWORD RetryWhileBusy(Attempt attempt) {
    static constexpr DWORD kPauses[] = {10, 20, 40, 80, 160, 320, 500, 500, 500, 500};
    DWORD error = attempt();
    for (DWORD pause : kPauses) {
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION &&
            error != ERROR_ACCESS_DENIED) {
            break;
        }
        Sleep(pause);
        error = attempt();
    }
    return error;
}
