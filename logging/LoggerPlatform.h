#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "DebugOutput.h"
#include "Queries.h"

// A bound event library: CEReportEventEx of ZelNSEvent.dll.
class EventLibrary {
  public:
    virtual ~EventLibrary() = default;
    // False when the library lacks CEReportEventEx: reports then go to the debugger output.
    virtual bool CanReport() const = 0;
    virtual int Report(int level, const wchar_t* processName, const wchar_t* component,
                       const wchar_t* message) = 0;
    // Whether the library exports CEReportEventEx2: looked up at binding, never called.
    virtual bool HasReportEventEx2() const = 0;
};

// What the logger asks of the platform: its program's name, the Common Files folder, the
// event library and the debugger output.
class LoggerPlatform : public ModuleFileName, public DebugOutput {
  public:
    // SHGetKnownFolderPath for FOLDERID_ProgramFilesCommon: S_OK with the folder, or the
    // failure's result.
    virtual HRESULT CommonFilesFolder(std::wstring* folder) = 0;
    // The event library at `path`, bound; null with the loader's error code when it cannot be
    // loaded.
    virtual std::unique_ptr<EventLibrary> BindEventLibrary(const std::wstring& path,
                                                           DWORD* error) = 0;
};

// The real calls: GetModuleFileNameW, SHGetKnownFolderPath, LoadLibraryW and GetProcAddress,
// OutputDebugStringW and OutputDebugStringA.
class RealLoggerPlatform : public LoggerPlatform {
  public:
    DWORD Fill(wchar_t* buffer, DWORD capacity) override;
    HRESULT CommonFilesFolder(std::wstring* folder) override;
    std::unique_ptr<EventLibrary> BindEventLibrary(const std::wstring& path, DWORD* error) override;
    void Wide(const wchar_t* text) override;
    void Narrow(const char* text) override;
};

// The platform the process-wide logger is built on. Each program defines it once: products
// link the real one (RealProcessLogger.cpp), test programs a recording one.
LoggerPlatform& ProcessLoggerPlatform();
