#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "DebugOutput.h"
#include "Fill.h"

// The platform's answers about the process and its paths, each with the error code of the
// call that failed. Nothing here reports through the logger; the two "WithoutLogger" forms
// write their failures to the debugger output, for callers that cannot use the logger (the
// logger itself, while it names its process).

// The running executable's file name as GetModuleFileNameW(nullptr, ...) gives it: the
// characters written, the whole capacity when the name was cut, or 0 with the last error set.
// The platform of whatever names its own program derives from it.
class ModuleFileName {
  public:
    virtual ~ModuleFileName() = default;
    virtual DWORD Fill(wchar_t* buffer, DWORD capacity) = 0;
};

// GetModuleFileNameW itself.
class RealModuleFileName : public ModuleFileName {
  public:
    DWORD Fill(wchar_t* buffer, DWORD capacity) override;
};

// Full path of the running executable, asked of `source`. The buffer grows in steps of 260
// characters up to 4160, so a path holds at most 4159; one that needs more fails with the code
// the last call left (122 on Windows and Wine).
QueryAnswer ExecutablePath(ModuleFileName& source);

// The current directory, a variable's value ("not defined" is error 203) and the full path of
// `path`, through FillText.
QueryAnswer CurrentDirectory();
QueryAnswer EnvironmentVariable(const wchar_t* name);
QueryAnswer FullPathName(const wchar_t* path);

// The last element of `path` (after the last "\" or "/"), optionally without its extension
// (the part from the element's last "."). Empty for a path that ends with a separator.
std::wstring LastPathElement(const std::wstring& path, bool stripExtension);

// `name` in `folder`: one separator between them, none added after a folder (a drive's root)
// that ends in one ("\" or "/").
std::wstring InFolder(const std::wstring& folder, const std::wstring& name);

// `path` split at its last separator ("\" or "/"): the folder, with that separator (so that a
// drive's root stays one: "C:\"), and the name after it. A path without a separator lies in
// the current folder: ".\" and the whole path.
struct FolderAndName {
    std::wstring folder;
    std::wstring name;
};
FolderAndName SplitPath(const std::wstring& path);

// ExecutablePath; a failure writes "<this source file>: GetExePath failed. Err = <code>\n"
// to `debugOutput`, sets the last error to the code and answers "".
std::wstring ExecutablePathWithoutLogger(ModuleFileName& source, DebugOutput& debugOutput);

// LastPathElement; a null or empty path writes "GetNameFromPath: null path specified" to
// `debugOutput`, sets the last error to 87 and answers "".
std::wstring NameFromPathWithoutLogger(const wchar_t* path, bool stripExtension,
                                       DebugOutput& debugOutput);

// True when every byte of [address, address + bytes) lies in committed, readable memory of
// this process: a check of what a foreign library hands out before it is read.
bool IsReadableMemory(const void* address, uint64_t bytes);
