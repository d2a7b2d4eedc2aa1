#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "WinResources.h"

// The package while it is written: a file kqpXXXX.tmp beside the target, renamed over the
// target only when complete, so that a failure or a kill leaves no partial package and an
// older one intact. From its creation to its rename the file is held open without any
// sharing: no other run can open it, which is how a sweep tells a live run's file from one
// that a killed run left behind.
class TemporaryPackage {
  public:
    TemporaryPackage() = default;
    ~TemporaryPackage() { Discard(true); }
    TemporaryPackage(const TemporaryPackage&) = delete;
    TemporaryPackage& operator=(const TemporaryPackage&) = delete;

    // Removes the kqpXXXX.tmp files in `folder` that no run holds open; answers how many.
    static int SweepStale(const std::wstring& folder);

    // Creates a new temporary file in `folder`; 0 or the platform's error code.
    DWORD Create(const std::wstring& folder);
    // The same, trying kqp<first>.tmp first and the names after it in turn (tests choose
    // `first`; Create draws it from the clock and the process).
    DWORD CreateFrom(const std::wstring& folder, uint16_t first);

    HANDLE Handle() const { return file.Get(); }
    const std::wstring& Path() const { return path; }

    // Renames the file over `target`, waiting out a target that is busy for a moment; 0 or
    // the platform's error code. After success the object holds nothing.
    DWORD RenameOver(const std::wstring& target);

    // Closes the file and, when `remove`, deletes it. Does nothing once committed.
    void Discard(bool remove);

  private:
    std::wstring path;
    UniqueFile file;
};
