#pragma once

#include <windows.h>

#include <atomic>

// Holds one process-wide object that is created on first use. The object is tested without
// the lock, then again after taking it, so exactly one is created however callers race; it
// is published with release ordering and read with acquire ordering, so a reader that sees
// the pointer also sees the finished object, and needs no lock.
//
// Meant to be a static object: it is constructed during static initialisation and, at normal
// process exit, first deletes its lock and then destroys the object (neither step takes the
// lock). After that, Get answers null instead of creating the object again on a deleted lock.
template <typename T>
class ProcessSingleton {
  public:
    ProcessSingleton() { InitializeCriticalSection(&lock); }
    ~ProcessSingleton() {
        DeleteCriticalSection(&lock);
        shutDown.store(true, std::memory_order_release);
        delete instance.exchange(nullptr, std::memory_order_acq_rel);
    }
    ProcessSingleton(const ProcessSingleton&) = delete;
    ProcessSingleton& operator=(const ProcessSingleton&) = delete;

    // The object, made by `create()` (which returns a new T*) on first use. An exception from
    // `create` leaves the lock, publishes nothing and goes on to the caller; the next call
    // tries again.
    template <typename Create>
    T* Get(Create create) {
        if (T* existing = instance.load(std::memory_order_acquire);
            existing != nullptr || shutDown.load(std::memory_order_acquire)) {
            return existing;
        }
        EnterCriticalSection(&lock);
        T* current = instance.load(std::memory_order_relaxed);
        if (current == nullptr) {
            try {
                current = create();
            } catch (...) {
                LeaveCriticalSection(&lock);
                throw;
            }
            instance.store(current, std::memory_order_release);
        }
        LeaveCriticalSection(&lock);
        return current;
    }

  private:
    CRITICAL_SECTION lock;
    std::atomic<T*> instance{nullptr};
    std::atomic<bool> shutDown{false};
};
