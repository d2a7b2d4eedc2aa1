#pragma once

// How Windows' file systems tell whether two names in one folder are one file, without any
// platform header of its own (the catalog's fuzz target builds it natively).

#include <string>
#include <string_view>

// The key under which two relative names (UTF-8, "\" or "/" between steps) reach one file on
// Windows: each step without its trailing dots and blanks (which Win32 drops), every UTF-16
// unit in upper case by the platform's ordinal, non-linguistic mapping (the one the file
// systems' case-insensitive compare uses), steps joined by "/". Invalid UTF-8 counts as
// U+FFFD. Two package entries of one key would extract to one file.
std::u16string FileNameKey(std::string_view name);
