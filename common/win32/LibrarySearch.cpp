#include "LibrarySearch.h"

#include <windows.h>

bool KeepCurrentFolderOutOfLibrarySearch() {
    // Any folder given to SetDllDirectoryW takes the current folder's place in the search
    // order. Windows also accepts an empty text for that, but Wine then keeps searching the
    // current folder; the system folder is searched anyway, so naming it changes nothing else.
    // SetDefaultDllDirectories is not an option: it would drop Path, which -crt extends for the
    // packager library's own dependencies.
    wchar_t system[MAX_PATH + 1];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) {
        return SetDllDirectoryW(L"") != FALSE;
    }
    return SetDllDirectoryW(system) != FALSE;
}
