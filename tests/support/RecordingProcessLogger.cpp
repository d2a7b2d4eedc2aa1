#include "RecordingLoggerPlatform.h"

// A test program's process-wide logger reports through a recording platform (LogCapture).
RecordingLoggerPlatform& ProcessRecording() {
    static RecordingLoggerPlatform platform;
    return platform;
}

LoggerPlatform& ProcessLoggerPlatform() {
    return ProcessRecording();
}
