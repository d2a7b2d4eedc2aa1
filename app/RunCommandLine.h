#pragma once

#include <cstdint>

class PackagingPlatform;

// The run sequence: locale, option store, console, validation, every option with its
// default, the parameter record and the build on `platform`. Returns the process exit code: 1
// when the command line is refused, otherwise the build's result. `argv[0]` is the program
// path.
int32_t RunCommandLine(int argc, const wchar_t* const* argv, PackagingPlatform& platform);
