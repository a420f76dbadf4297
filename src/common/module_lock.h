// A lock for the module's own state (the exports' connection, the trace
// sink), safe to use from the first call: constant-initialised, it creates
// nothing, neither when the module loads nor later, so it cannot fail.
//
// On Windows it is a test-and-set lock on Interlocked words, which every
// Windows from XP on has (no slim reader/writer lock: that came with Vista;
// no compiler thread library either). A waiter owns nothing while it waits:
// a thread killed then (TerminateThread) leaves the lock as it was, and the
// next caller goes on. It first yields its time slice a few times, then
// sleeps a millisecond at a time: a call held up by a Download of several
// seconds costs the machine next to nothing while it waits, and starts
// within a timer tick of that Download's end.
//
// Waiters are not queued, so a thread that keeps calling Ready would take
// the lock again the moment it let go, and another waiting for
// GetCoolingInfo would starve. So waiters mark the time they last tried,
// and a thread that was the last to hold the lock lets them in first, for a
// few rounds at most. A mark no waiter renews (its thread was killed)
// counts for kWaiterMarkMilliseconds only.
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

#if defined(_WIN32)
// The system's millisecond tick, which wraps every 49.7 days.
struct SystemTicks {
    static DWORD Now() { return GetTickCount(); }
};

// `Ticks` is the clock the waiters' marks are read on (a test pins it).
template <typename Ticks>
class BasicModuleLock {
public:
    constexpr BasicModuleLock() = default;
    BasicModuleLock(const BasicModuleLock&) = delete;
    BasicModuleLock& operator=(const BasicModuleLock&) = delete;

    // lock() and unlock(): the names std::lock_guard needs.
    // NOLINTBEGIN(readability-identifier-naming)
    void lock() {
        const LONG me = static_cast<LONG>(GetCurrentThreadId());
        for (unsigned round = 0;; ++round) {
            const bool givingWay = round < kGiveWayRounds && Read(lastHolder) == me && OthersWaiting();
            if (!givingWay) {
                if (InterlockedCompareExchange(&held, 1, 0) == 0) {
                    InterlockedExchange(&lastHolder, me);
                    InterlockedExchange(&waiterMark, 0);  // the others renew theirs
                    return;
                }
                InterlockedExchange(&waiterMark, static_cast<LONG>(MarkNow()));
            }
            Sleep(round < kYieldRounds ? 0 : 1);
        }
    }
    void unlock() { InterlockedExchange(&held, 0); }
    // NOLINTEND(readability-identifier-naming)

private:
    static constexpr unsigned kYieldRounds = 16;
    static constexpr unsigned kGiveWayRounds = kYieldRounds + 4;
    static constexpr DWORD kWaiterMarkMilliseconds = 100;

    // The tick made odd, so that a mark is never 0 (no mark), and read the
    // same way when it is compared: an even tick against its own mark
    // would otherwise read as a mark from 49.7 days on, long expired.
    static DWORD MarkNow() { return Ticks::Now() | 1; }
    static LONG Read(volatile LONG& word) { return InterlockedCompareExchange(&word, 0, 0); }
    bool OthersWaiting() {
        const LONG mark = Read(waiterMark);
        return mark != 0 && MarkNow() - static_cast<DWORD>(mark) < kWaiterMarkMilliseconds;
    }

    volatile LONG held = 0;
    volatile LONG lastHolder = 0;  // thread id of the last to take the lock
    volatile LONG waiterMark = 0;  // MarkNow() when a waiter last tried; 0: none since the last taking
};

using ModuleLock = BasicModuleLock<SystemTicks>;
#else
class ModuleLock {
public:
    constexpr ModuleLock() = default;
    ModuleLock(const ModuleLock&) = delete;
    ModuleLock& operator=(const ModuleLock&) = delete;

    // NOLINTBEGIN(readability-identifier-naming)
    void lock() { mutex.lock(); }
    void unlock() { mutex.unlock(); }
    // NOLINTEND(readability-identifier-naming)

private:
    std::mutex mutex;
};
#endif

}  // namespace tarnscsi
