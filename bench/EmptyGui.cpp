// The smallest GUI-subsystem program: the baseline for process start to exit.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return 1;
}
