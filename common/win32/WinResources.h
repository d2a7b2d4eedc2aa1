#pragma once

#include <windows.h>

#include <utility>

// One small owner per Win32 resource kind. Closing never disturbs the thread's last-error
// code, so an owner may go out of scope between a failing call and the GetLastError() that
// reports it. Owners built on UniqueResource (these, and CNG's in Sha256.h) and zlib's stream
// owners (ZlibStream.h) are the only places that close, free or release what they hold.
template <typename Traits>
class UniqueResource {
  public:
    using Type = typename Traits::Type;

    UniqueResource() = default;
    explicit UniqueResource(Type held) : value(held) {}
    ~UniqueResource() { Reset(); }

    UniqueResource(UniqueResource&& other) noexcept : value(other.Detach()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) {
            Reset(other.Detach());
        }
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    Type Get() const { return value; }
    bool IsValid() const { return value != Traits::Invalid(); }
    explicit operator bool() const { return IsValid(); }

    // Gives up ownership without closing.
    Type Detach() { return std::exchange(value, Traits::Invalid()); }

    // Closes what is held (if anything) and takes `newValue`.
    void Reset(Type newValue = Traits::Invalid()) {
        const Type old = std::exchange(value, newValue);
        if (old != Traits::Invalid()) {
            const DWORD lastError = GetLastError();
            Traits::Close(old);
            SetLastError(lastError);
        }
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

struct FindHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { FindClose(h); }
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

struct EnvironmentStringsTraits {
    using Type = wchar_t*;
    static Type Invalid() { return nullptr; }
    static void Close(Type block) { FreeEnvironmentStringsW(block); }
};

struct EventSourceTraits {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { DeregisterEventSource(h); }
};

struct CoTaskMemoryTraits {
    using Type = void*;
    static Type Invalid() { return nullptr; }
    static void Close(Type p);  // CoTaskMemFree; defined out of line to keep <objbase.h> local
};

// A COM-style object: one reference, given up with its Release.
template <typename Interface>
struct ComReferenceTraits {
    using Type = Interface*;
    static Type Invalid() { return nullptr; }
    static void Close(Type object) { object->Release(); }
};

using UniqueHandle = UniqueResource<KernelHandleTraits>;
using UniqueFile = UniqueResource<FileHandleTraits>;
using UniqueFind = UniqueResource<FindHandleTraits>;
using UniqueModule = UniqueResource<ModuleTraits>;
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits>;
using UniqueEnvironmentStrings = UniqueResource<EnvironmentStringsTraits>;
using UniqueEventSource = UniqueResource<EventSourceTraits>;
using UniqueCoTaskMemory = UniqueResource<CoTaskMemoryTraits>;
template <typename Interface>
using UniqueComReference = UniqueResource<ComReferenceTraits<Interface>>;

// Converts a GetProcAddress result into the typed entry point it is known to be.
template <typename Function>
Function FunctionCast(FARPROC address) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}
