#include "WinResources.h"

#include <objbase.h>

void CoTaskMemoryTraits::Close(void* p) {
    CoTaskMemFree(p);
}
