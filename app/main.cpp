#include <windows.h>
#include <shellapi.h>

#include "LibrarySearch.h"
#include "Logger.h"
#include "PackagingPlatform.h"
#include "RunCommandLine.h"
#include "WinResources.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    KeepCurrentFolderOutOfLibrarySearch();
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr) {
        const DWORD code = GetLastError();
        LogReport(kLevelError, L"Deployment Packager", L"CommandLineToArgvW failed. Err= %d",
                  static_cast<int>(code));
        return 1;
    }
    UniqueLocalMemory arguments(argv);
    RealPackagingPlatform platform;
    return RunCommandLine(argc, argv, platform);
}
