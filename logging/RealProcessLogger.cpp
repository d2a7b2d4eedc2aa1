#include "LoggerPlatform.h"

// The products' process-wide logger reports through the real platform. The logger is a
// static created before the platform and destroyed after it, and reports may come from other
// statics' destructors: the platform lives to the end of the process, never destroyed.
LoggerPlatform& ProcessLoggerPlatform() {
    static RealLoggerPlatform* const platform = new RealLoggerPlatform();
    return *platform;
}
