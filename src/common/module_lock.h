// A lock for the module's own state (the exports' connection, the trace
// sink), safe to use from the first call: constant-initialised, it creates
// nothing, neither when the module loads nor later, so it cannot fail.
//
// On Windows it is a ticket lock on two Interlocked counters, which every
// Windows from XP on has (no slim reader/writer lock: that came with Vista;
// no compiler thread library either). Tickets are served in the order they
// were drawn, so a thread that keeps calling Ready cannot starve another
// that waits for GetCoolingInfo. A waiter first yields its time slice a few
// times, then sleeps a millisecond at a time: a call held up by a Download
// of several seconds costs the machine next to nothing while it waits, and
// starts within a timer tick of that Download's end.
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
    void lock() {
        // The counters wrap together; only equality matters.
        const LONG ticket = InterlockedExchangeAdd(&nextTicket, 1);
        for (unsigned round = 0; InterlockedCompareExchange(&nowServing, 0, 0) != ticket; ++round) {
            Sleep(round < kYieldRounds ? 0 : 1);
        }
    }
    void unlock() { InterlockedExchangeAdd(&nowServing, 1); }
    // NOLINTEND(readability-identifier-naming)

private:
    static constexpr unsigned kYieldRounds = 16;
    volatile LONG nextTicket = 0;
    volatile LONG nowServing = 0;
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
