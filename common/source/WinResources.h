#pragma once

#include <windows.h>

#include <utility>

// One small owner per Win32 resource kind. Closing never disturbs the thread's last-error
// code, so an owner may go out of scope between a failing call and the GetLastError() that
// reports it.
template <typename Traits>
class UniqueResource {
  public:
    using Type = typename Traits::Type;

    UniqueResource() = default;
    explicit UniqueResource(Type value) : value(value) {}
    ~UniqueResource() { Reset(); }

    UniqueResource(UniqueResource&& other) noexcept : value(other.Release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    Type Get() const { return value; }
    bool IsValid() const { return value != Traits::Invalid(); }
    explicit operator bool() const { return IsValid(); }

    Type Release() { return std::exchange(value, Traits::Invalid()); }

    void Reset(Type newValue = Traits::Invalid()) {
        if (value != Traits::Invalid()) {
            const DWORD lastError = GetLastError();
            Traits::Close(value);
            SetLastError(lastError);
        }
        value = newValue;
    }

  private:
    Type value = Traits::Invalid();
};

struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { CloseHandle(h); }
};

// CreateFileW reports failure with INVALID_HANDLE_VALUE rather than null.
struct FileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { CloseHandle(h); }
};

struct ModuleTraits {
    using Type = HMODULE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { FreeLibrary(h); }
};

struct LocalMemoryTraits {
    using Type = HLOCAL;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { LocalFree(h); }
};

struct CoTaskMemoryTraits {
    using Type = void*;
    static Type Invalid() { return nullptr; }
    static void Close(Type p);  // CoTaskMemFree; defined out of line to keep <objbase.h> local
};

using UniqueHandle = UniqueResource<KernelHandleTraits>;
using UniqueFile = UniqueResource<FileHandleTraits>;
using UniqueModule = UniqueResource<ModuleTraits>;
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits>;
using UniqueCoTaskMemory = UniqueResource<CoTaskMemoryTraits>;

// Converts a GetProcAddress result into the typed entry point it is known to be.
template <typename Function>
Function FunctionCast(FARPROC address) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}
