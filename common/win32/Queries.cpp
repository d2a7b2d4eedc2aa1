#include "Queries.h"

#include <string>

#include "DebugOutput.h"

namespace {

constexpr DWORD kExePathGrowth = 260;
// 16 steps of 260: the largest buffer asked for holds 4159 characters and the terminator.
constexpr DWORD kExePathLargestSize = 4160;
constexpr const char* kSourceFile = "common/win32/Queries.cpp: ";

}  // namespace

DWORD RealModuleFileName::Fill(wchar_t* buffer, DWORD capacity) {
    return GetModuleFileNameW(nullptr, buffer, capacity);
}

QueryAnswer ExecutablePath(ModuleFileName& source) {
    QueryAnswer answer;
    std::wstring buffer;
    for (DWORD size = kExePathGrowth;; size += kExePathGrowth) {
        buffer.assign(size, L'\0');
        const DWORD written = source.Fill(buffer.data(), size);
        const DWORD error = GetLastError();
        if (written != 0 && written < size) {
            answer.succeeded = true;
            answer.text.assign(buffer.c_str());
            return answer;
        }
        // 0 is a failure; an answer of the whole size means the path was cut.
        if (written == 0 || size >= kExePathLargestSize) {
            answer.error = error;
            return answer;
        }
    }
}

QueryAnswer CurrentDirectory() {
    return FillText(
        [](wchar_t* buffer, DWORD capacity) { return GetCurrentDirectoryW(capacity, buffer); });
}

QueryAnswer EnvironmentVariable(const wchar_t* name) {
    return FillText([name](wchar_t* buffer, DWORD capacity) {
        return GetEnvironmentVariableW(name, buffer, capacity);
    });
}

QueryAnswer FullPathName(const wchar_t* path) {
    return FillText([path](wchar_t* buffer, DWORD capacity) {
        return GetFullPathNameW(path, capacity, buffer, nullptr);
    });
}

std::wstring LastPathElement(const std::wstring& path, bool stripExtension) {
    std::wstring name = SplitPath(path).name;
    if (stripExtension) {
        const size_t dot = name.rfind(L'.');
        if (dot != std::wstring::npos) {
            name.resize(dot);
        }
    }
    return name;
}

std::wstring InFolder(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty() || folder.back() == L'\\' || folder.back() == L'/') {
        return folder + name;
    }
    return folder + L"\\" + name;
}

FolderAndName SplitPath(const std::wstring& path) {
    const size_t separator = path.find_last_of(L"\\/");
    if (separator == std::wstring::npos) {
        return {L".\\", path};
    }
    return {path.substr(0, separator + 1), path.substr(separator + 1)};
}

std::wstring ExecutablePathWithoutLogger(ModuleFileName& source, DebugOutput& debugOutput) {
    const QueryAnswer path = ExecutablePath(source);
    if (!path.succeeded) {
        const std::string line = std::string(kSourceFile) +
                                 "GetExePath failed. Err = " + std::to_string(path.error) + "\n";
        debugOutput.Narrow(line.c_str());
        SetLastError(path.error);
        return std::wstring();
    }
    return path.text;
}

std::wstring NameFromPathWithoutLogger(const wchar_t* path, bool stripExtension,
                                       DebugOutput& debugOutput) {
    if (path == nullptr || path[0] == L'\0') {
        debugOutput.Wide(L"GetNameFromPath: null path specified");
        SetLastError(ERROR_INVALID_PARAMETER);
        return std::wstring();
    }
    return LastPathElement(path, stripExtension);
}

bool IsReadableMemory(const void* address, uint64_t bytes) {
    constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY |
                                PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    uint64_t at = reinterpret_cast<uintptr_t>(address);
    if (address == nullptr || at + bytes < at) {
        return false;
    }
    const uint64_t end = at + bytes;
    while (at < end) {
        MEMORY_BASIC_INFORMATION region{};
        if (VirtualQuery(reinterpret_cast<const void*>(static_cast<uintptr_t>(at)), &region,
                         sizeof(region)) == 0 ||
            region.State != MEM_COMMIT || (region.Protect & kReadable) == 0 ||
            (region.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0) {
            return false;
        }
        at = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
    }
    return true;
}
