// Calls OpenConsole as its command line asks, twice, and tells through its exit code what it
// saw: bit 0: a console window before, bit 1: one after, bit 3: writing to standard output
// through C stdio works.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "Util.h"
#include "WinResources.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    const UniqueLocalMemory arguments(CommandLineToArgvW(GetCommandLineW(), &argc));
    wchar_t** argv = static_cast<wchar_t**>(arguments.Get());
    const bool show = argc > 1 && std::wstring(argv[1]) == L"show";
    const HWND before = GetConsoleWindow();
    OpenConsole(show);
    const HWND after = GetConsoleWindow();
    OpenConsole(show);
    const bool wrote = std::fputs("console probe\n", stdout) >= 0 && std::fflush(stdout) == 0;
    return (before != nullptr ? 1 : 0) | (after != nullptr ? 2 : 0) | (wrote ? 8 : 0);
}
