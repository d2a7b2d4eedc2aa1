#pragma once

#include <windows.h>

#include <string>

#include "Queries.h"
#include "WinResources.h"

// What the Util instance asks of the platform: its program's path, and the entry points of
// api-ms-win-core-path-l1-1-0.dll, each of which may be missing and then sends its operation
// to the older shell function.
class UtilPlatform : public ModuleFileName {
  public:
    virtual bool HasRemoveFileSpec() const = 0;
    // PathCchRemoveFileSpec.
    virtual HRESULT RemoveFileSpec(PWSTR path, size_t capacity) = 0;
    virtual bool HasCanonicalizeEx() const = 0;
    // PathCchCanonicalizeEx.
    virtual HRESULT CanonicalizeEx(PWSTR out, size_t capacity, PCWSTR in, ULONG flags) = 0;
};

// The real calls. With `bindPathLibrary` it loads the path library and looks up its two
// entries, without it has neither (the shell fallbacks).
class RealUtilPlatform : public UtilPlatform {
  public:
    explicit RealUtilPlatform(bool bindPathLibrary);
    ~RealUtilPlatform() override;
    RealUtilPlatform(const RealUtilPlatform&) = delete;
    RealUtilPlatform& operator=(const RealUtilPlatform&) = delete;

    // The path library was loaded.
    bool Loaded() const { return static_cast<bool>(library); }

    DWORD Fill(wchar_t* buffer, DWORD capacity) override;
    bool HasRemoveFileSpec() const override { return removeFileSpec != nullptr; }
    HRESULT RemoveFileSpec(PWSTR path, size_t capacity) override;
    bool HasCanonicalizeEx() const override { return canonicalizeEx != nullptr; }
    HRESULT CanonicalizeEx(PWSTR out, size_t capacity, PCWSTR in, ULONG flags) override;

  private:
    using RemoveFileSpecFn = HRESULT(WINAPI*)(PWSTR path, size_t capacity);
    using CanonicalizeExFn = HRESULT(WINAPI*)(PWSTR out, size_t capacity, PCWSTR in, ULONG flags);

    UniqueModule library;
    RemoveFileSpecFn removeFileSpec = nullptr;
    CanonicalizeExFn canonicalizeEx = nullptr;
};

// Path rewriting with the newer path functions where the platform has them. The process-wide
// instance behind the free forms in Util.h is created on first use (reporting "Init Util
// library") on the real platform and destroyed at process exit.
class Util {
  public:
    static Util* Instance();

    explicit Util(UtilPlatform& given) : platform(given) {}
    Util(const Util&) = delete;
    Util& operator=(const Util&) = delete;

    UtilPlatform& Platform() const { return platform; }

    // Removes the last element of the path in `buffer` (of `capacity` characters, terminator
    // included) in place. Uses PathCchRemoveFileSpec when bound; else PathRemoveFileSpecW
    // below 260 characters of capacity for paths not starting with "\\"; else strips at the
    // last "\" or "/" by hand. False when the platform call reports a failure.
    bool RemoveFileSpec(wchar_t* buffer, size_t capacity);

    // As the free forms in Util.h.
    std::wstring CanonicalizeFileSpec(const wchar_t* path);
    std::wstring GetExeDir();
    std::wstring ResolvePathName(const wchar_t* path);
    bool IsValidPathForFile(const wchar_t* filePath);

  private:
    std::wstring Canonicalize(const std::wstring& working, DWORD* code, bool* ok);

    UtilPlatform& platform;
};
