#pragma once

#include <windows.h>

// Holds one process-wide object that is created on first use. The object is tested without
// the lock, then again after taking it, so exactly one is created however callers race; once
// published it never changes, so readers need no lock.
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
        shutDown = true;
        delete instance;
        instance = nullptr;
    }
    ProcessSingleton(const ProcessSingleton&) = delete;
    ProcessSingleton& operator=(const ProcessSingleton&) = delete;

    // The object, made by `create()` (which returns a new T*) on first use. An exception from
    // `create` leaves the lock, publishes nothing and goes on to the caller; the next call
    // tries again.
    template <typename Create>
    T* Get(Create create) {
        if (instance != nullptr || shutDown) {
            return instance;
        }
        EnterCriticalSection(&lock);
        if (instance == nullptr) {
            try {
                instance = create();
            } catch (...) {
                LeaveCriticalSection(&lock);
                throw;
            }
        }
        LeaveCriticalSection(&lock);
        return instance;
    }

    // Replaces the object without destroying the previous one, which is returned (tests).
    T* Exchange(T* replacement) {
        T* previous = instance;
        instance = replacement;
        return previous;
    }

  private:
    CRITICAL_SECTION lock;
    T* instance = nullptr;
    bool shutDown = false;
};
