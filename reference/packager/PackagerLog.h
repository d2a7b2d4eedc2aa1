#pragma once

#include <windows.h>

#include <string>

// The reference library's own log: "YYYY-MM-DD hh:mm:ss LEVEL message" lines appended to the
// file the caller names. Runs started from one folder share the default log, so it is opened
// for shared appending and every line goes out in one write: lines of concurrent runs
// interleave whole, none torn or lost. A log that stays busy or cannot be written at all
// costs the call nothing but its log lines: the first failure is kept and later lines of that
// call are dropped.
//
// The log's default place is the current folder, which others may be able to write: a link
// there under the log's name must not make a run append to whatever file it reaches. The log
// is written only when the file opened is the one asked for (not a link, no other name, its
// final path the path asked for); otherwise it counts as unwritable, error 681
// (ERROR_STOPPED_ON_SYMLINK). Every line is one line: control characters in messages are
// escaped as in the manifest (OneLineText).
class PackagerLog {
  public:
    enum Level { kError = 1, kWarning = 2, kInfo = 3 };

    // `level`: 0 writes nothing, 1 errors, 2 also warnings, 3 or more everything; negative
    // is the default, 3. An empty path turns the log off.
    void Configure(const std::wstring& path, int level);

    // A new call of the library: a log that could not be written in an earlier call is tried
    // again.
    void BeginCall() { failure = 0; }

    // Appends one line when the level allows it.
    void Write(int level, const std::string& message);

    const std::wstring& Path() const { return path; }
    // The platform's error code of the first line of this call that could not be written; 0
    // while every line was (or the log is off).
    DWORD Failure() const { return failure; }

  private:
    DWORD Append(const std::string& line) const;

    std::wstring path;
    int allowed = kInfo;
    DWORD failure = 0;
};
