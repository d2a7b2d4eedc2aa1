// Calls OpenConsole as its command line asks and tells through its exit code what it saw:
// bit 0: a console window before, bit 1: one after, bit 2: a second call kept the same
// window, bit 3: standard output was rebound (writing to it through C stdio works).
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "Util.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const bool show = argc > 1 && std::wstring(argv[1]) == L"show";
    LocalFree(argv);
    const HWND before = GetConsoleWindow();
    OpenConsole(show);
    const HWND after = GetConsoleWindow();
    OpenConsole(show);
    const HWND again = GetConsoleWindow();
    const bool wrote = std::fputs("console probe\n", stdout) >= 0 && std::fflush(stdout) == 0;
    return (before != nullptr ? 1 : 0) | (after != nullptr ? 2 : 0) | (again == after ? 4 : 0) |
           (wrote ? 8 : 0);
}
