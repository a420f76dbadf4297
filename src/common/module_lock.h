// One lock for the whole module, safe to use from the first export call
// (constant-initialised, nothing to set up) on every platform. On Windows it
// is a slim reader/writer lock from KERNEL32, so the DLL needs no thread
// library of the compiler's (std::mutex may pull in libwinpthread).
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <mutex>
#endif

namespace tarnscsi {

class ModuleLock {
public:
    constexpr ModuleLock() = default;
    ModuleLock(const ModuleLock&) = delete;
    ModuleLock& operator=(const ModuleLock&) = delete;

    // lock() and unlock(): the names std::lock_guard needs.
#if defined(_WIN32)
    // NOLINTBEGIN(readability-identifier-naming)
    void lock() { AcquireSRWLockExclusive(&srw); }
    void unlock() { ReleaseSRWLockExclusive(&srw); }
    // NOLINTEND(readability-identifier-naming)

private:
    SRWLOCK srw = SRWLOCK_INIT;
#else
    // NOLINTBEGIN(readability-identifier-naming)
    void lock() { mutex.lock(); }
    void unlock() { mutex.unlock(); }
    // NOLINTEND(readability-identifier-naming)

private:
    std::mutex mutex;
#endif
};

}  // namespace tarnscsi
