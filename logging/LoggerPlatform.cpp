#include "LoggerPlatform.h"

#include <knownfolders.h>
#include <shlobj.h>

#include "WinResources.h"

namespace {

// CEReportEventEx of ZelNSEvent.dll.
using ReportEventExFn = int(__stdcall*)(int level, const wchar_t* processName,
                                        const wchar_t* component, const wchar_t* message);

// The library stays loaded while the object lives; its entry points go before it does.
class LoadedEventLibrary : public EventLibrary {
  public:
    explicit LoadedEventLibrary(HMODULE loaded) : library(loaded) {
        reportEventEx = FunctionCast<ReportEventExFn>(GetProcAddress(loaded, "CEReportEventEx"));
        // Looked up as the vendor's agents do, never called.
        reportEventEx2 = GetProcAddress(loaded, "CEReportEventEx2");
    }
    ~LoadedEventLibrary() override {
        reportEventEx = nullptr;
        reportEventEx2 = nullptr;
        library.Reset();
    }

    bool CanReport() const override { return reportEventEx != nullptr; }
    int Report(int level, const wchar_t* processName, const wchar_t* component,
               const wchar_t* message) override {
        return reportEventEx(level, processName, component, message);
    }
    bool HasReportEventEx2() const override { return reportEventEx2 != nullptr; }

  private:
    UniqueModule library;
    ReportEventExFn reportEventEx = nullptr;
    FARPROC reportEventEx2 = nullptr;
};

}  // namespace

DWORD RealLoggerPlatform::Fill(wchar_t* buffer, DWORD capacity) {
    return GetModuleFileNameW(nullptr, buffer, capacity);
}

HRESULT RealLoggerPlatform::CommonFilesFolder(std::wstring* folder) {
    wchar_t* text = nullptr;
    const HRESULT result = SHGetKnownFolderPath(FOLDERID_ProgramFilesCommon, 0, nullptr, &text);
    const UniqueCoTaskMemory owned(text);
    if (SUCCEEDED(result)) {
        folder->assign(text);
    }
    return result;
}

std::unique_ptr<EventLibrary> RealLoggerPlatform::BindEventLibrary(const std::wstring& path,
                                                                   DWORD* error) {
    const HMODULE loaded = LoadLibraryW(path.c_str());
    if (loaded == nullptr) {
        *error = GetLastError();
        return nullptr;
    }
    return std::make_unique<LoadedEventLibrary>(loaded);
}

void RealLoggerPlatform::Wide(const wchar_t* text) {
    OutputDebugStringW(text);
}

void RealLoggerPlatform::Narrow(const char* text) {
    OutputDebugStringA(text);
}
