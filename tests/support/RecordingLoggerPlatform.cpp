#include "RecordingLoggerPlatform.h"

#include <cwchar>

#include "Fault.h"

namespace {

class RecordingEventLibrary : public EventLibrary {
  public:
    explicit RecordingEventLibrary(RecordingLoggerPlatform& platform) : owner(platform) {}

    bool CanReport() const override {
        return owner.eventMode != RecordingLoggerPlatform::EventMode::Missing;
    }
    int Report(int level, const wchar_t* processName, const wchar_t* component,
               const wchar_t* message) override {
        ++owner.eventCalls;
        if (owner.eventMode == RecordingLoggerPlatform::EventMode::Throws) {
            throw std::runtime_error("event library threw");
        }
        if (owner.eventMode == RecordingLoggerPlatform::EventMode::Faults) {
            RaiseAccessViolation();
        }
        owner.events.push_back({level, processName, component, message});
        return 0;
    }
    bool HasReportEventEx2() const override { return true; }

  private:
    RecordingLoggerPlatform& owner;
};

}  // namespace

void RecordingLoggerPlatform::Clear() {
    events.clear();
    debugStrings.clear();
    librariesBound.clear();
    eventCalls = 0;
}

DWORD RecordingLoggerPlatform::Fill(wchar_t* buffer, DWORD capacity) {
    if (programPathError != 0) {
        SetLastError(programPathError);
        return 0;
    }
    const DWORD length = static_cast<DWORD>(programPath.size());
    const DWORD copied = length < capacity ? length : capacity - 1;
    std::wmemcpy(buffer, programPath.c_str(), copied);
    buffer[copied] = L'\0';
    return length < capacity ? length : capacity;
}

HRESULT RecordingLoggerPlatform::CommonFilesFolder(std::wstring* folder) {
    if (SUCCEEDED(folderResult)) {
        *folder = commonFiles;
    }
    return folderResult;
}

std::unique_ptr<EventLibrary> RecordingLoggerPlatform::BindEventLibrary(const std::wstring& path,
                                                                        DWORD* error) {
    librariesBound.push_back(path);
    if (loadError != 0) {
        *error = loadError;
        return nullptr;
    }
    return std::make_unique<RecordingEventLibrary>(*this);
}

void RecordingLoggerPlatform::Narrow(const char* text) {
    debugStrings.emplace_back(std::wstring(text, text + std::char_traits<char>::length(text)));
}
