#include "RecordingLoggerPlatform.h"

// A test program's process-wide logger reports through a recording platform (LogCapture).
// It outlives the logger that refers to it, to the end of the process.
RecordingLoggerPlatform& ProcessRecording() {
    static RecordingLoggerPlatform* const platform = new RecordingLoggerPlatform();
    return *platform;
}

LoggerPlatform& ProcessLoggerPlatform() {
    return ProcessRecording();
}
