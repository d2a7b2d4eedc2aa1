#include "LoggerPlatform.h"

// The products' process-wide logger reports through the real platform.
LoggerPlatform& ProcessLoggerPlatform() {
    static RealLoggerPlatform platform;
    return platform;
}
