#include "LibrarySearch.h"

#include <windows.h>

void KeepCurrentFolderOutOfLibrarySearch() {
    // Any folder given to SetDllDirectoryW takes the current folder's place in the search
    // order. Windows also accepts an empty text for that, but Wine then keeps searching the
    // current folder; the system folder is searched anyway, so naming it changes nothing else.
    // SetDefaultDllDirectories is not an option: it would drop Path, which -crt extends for the
    // packager library's own dependencies.
    wchar_t system[MAX_PATH + 1];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH + 1);
    SetDllDirectoryW(length == 0 || length > MAX_PATH ? L"" : system);
}
