// The Win32 kernel calls the module makes, seen through its import table:
// the manager loaded by its plain name, one manual-reset event per
// connection handed to the manager in SRB_PostProc, a wait exactly for each
// pending request, what Connect says when the event or the memory for the
// connection cannot be had, a wait that fails, a thread killed while it
// waits for the module's lock, and the lock's turn for a waiting thread.
#include <atomic>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

#include "common/module_lock.h"
#include "import_patch.h"
#include "support/module_fixture.h"

using namespace tarnscsi::testing_support;
using win32_test::Address;
using win32_test::ImportPatch;

namespace {

constexpr char kModuleName[] = "TARNSCSI.dll";
constexpr char kKernel[] = "KERNEL32.dll";
constexpr char kRuntime[] = "msvcrt.dll";
constexpr std::uint32_t kPendingDelayMicroseconds = 2000;

HMODULE Module() { return GetModuleHandleA(kModuleName); }

// LoadLibraryA: the names asked for.
using LoadLibraryFn = HMODULE(WINAPI*)(LPCSTR);
LoadLibraryFn realLoadLibrary = nullptr;
std::vector<std::string> loadedNames;

HMODULE WINAPI RecordingLoadLibraryA(LPCSTR name) {
    loadedNames.emplace_back(name != nullptr ? name : "(null)");
    return realLoadLibrary(name);
}

// CreateEventA: the arguments and the handle made, or a refusal.
using CreateEventFn = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR);
CreateEventFn realCreateEvent = nullptr;
struct EventRequest {
    bool attributes;
    BOOL manualReset;
    BOOL initialState;
    bool named;
};
std::vector<EventRequest> eventRequests;
HANDLE createdEvent = nullptr;

HANDLE WINAPI RecordingCreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState,
                                    LPCSTR name) {
    eventRequests.push_back({attributes != nullptr, manualReset, initialState, name != nullptr});
    createdEvent = realCreateEvent(attributes, manualReset, initialState, name);
    return createdEvent;
}

HANDLE WINAPI RefusingCreateEventA(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR) {
    SetLastError(ERROR_NO_SYSTEM_RESOURCES);
    return nullptr;
}

// WaitForSingleObject: the waits without time limit.
using WaitFn = DWORD(WINAPI*)(HANDLE, DWORD);
WaitFn realWait = nullptr;
std::atomic<int> infiniteWaits{0};

DWORD WINAPI CountingWaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    if (milliseconds == INFINITE) ++infiniteWaits;
    return realWait(handle, milliseconds);
}

// The same call made to fail at once, as a wait on a closed handle does.
DWORD WINAPI FailingWaitForSingleObject(HANDLE, DWORD) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}

// The same call holding its command (and with it the module's lock) until
// `release` is set, once `holdNext` is; `holding` tells that it does.
std::atomic<bool> holdNext{false};
HANDLE holding = nullptr;
HANDLE release = nullptr;

DWORD WINAPI HoldingWaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    if (holdNext.exchange(false)) {
        SetEvent(holding);
        realWait(release, INFINITE);
    }
    return realWait(handle, milliseconds);
}

// Sleep: the module's lock sleeps while it waits for it; `sleeping` tells.
using SleepFn = VOID(WINAPI*)(DWORD);
SleepFn realSleep = nullptr;
HANDLE sleeping = nullptr;

VOID WINAPI SignallingSleep(DWORD milliseconds) {
    SetEvent(sleeping);
    realSleep(milliseconds);
}

DWORD WINAPI CallReady(LPVOID result) {
    *static_cast<int32_t*>(result) = Ready();
    return 0;
}

// malloc: the next request fails, later ones are passed on (throwing and
// catching std::bad_alloc inside the runtime needs memory of its own).
using MallocFn = void*(__cdecl*)(std::size_t);
MallocFn realMalloc = nullptr;
std::atomic<int> refusals{0};

void* __cdecl RefusingMalloc(std::size_t size) {
    if (refusals > 0) {
        --refusals;
        return nullptr;
    }
    return realMalloc(size);
}

std::string ConnectMessage() {
    const char* error = "untouched";
    EXPECT_EQ(Connect(&error), 0);
    return error;
}

class KernelCallsTest : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        ASSERT_NE(Module(), nullptr);
        loadedNames.clear();
        eventRequests.clear();
        createdEvent = nullptr;
        infiniteWaits = 0;
    }
};

}  // namespace

TEST_F(KernelCallsTest, LoadsTheManagerByItsPlainName) {
    ImportPatch patch(Module(), kKernel, "LoadLibraryA", Address(&RecordingLoadLibraryA));
    ASSERT_TRUE(patch.Applied());
    realLoadLibrary = patch.Original<LoadLibraryFn>();
    ConnectOk();
    EXPECT_EQ(loadedNames, std::vector<std::string>{"wnaspi32"});
}

TEST_F(KernelCallsTest, OneManualResetEventServesTheConnectionThroughPostProc) {
    {
        ImportPatch patch(Module(), kKernel, "CreateEventA", Address(&RecordingCreateEventA));
        ASSERT_TRUE(patch.Applied());
        realCreateEvent = patch.Original<CreateEventFn>();
        ConnectOk();
    }
    ASSERT_EQ(eventRequests.size(), 1u);
    EXPECT_FALSE(eventRequests[0].attributes);
    EXPECT_TRUE(eventRequests[0].manualReset) << "the module resets the event itself before each request";
    EXPECT_FALSE(eventRequests[0].initialState);
    EXPECT_FALSE(eventRequests[0].named);

    SimSetCompletion(SIM_PENDING, kPendingDelayMicroseconds);
    SimLogClear();
    RunSomeCommands();
    const auto requests = ExecRequests();
    ASSERT_FALSE(requests.empty());
    for (const SimRequest& request : requests) {
        SCOPED_TRACE(static_cast<int>(request.cdb[0]));
        EXPECT_EQ(request.postProc, reinterpret_cast<std::uintptr_t>(createdEvent));
        EXPECT_EQ(request.finalStatus, 1) << "completed with SS_COMP";
    }
}

TEST_F(KernelCallsTest, WaitsOnceForEachPendingRequestAndNeverForAnImmediateOne) {
    ImportPatch patch(Module(), kKernel, "WaitForSingleObject", Address(&CountingWaitForSingleObject));
    ASSERT_TRUE(patch.Applied());
    realWait = patch.Original<WaitFn>();
    ConnectOk();
    infiniteWaits = 0;
    RunSomeCommands();
    EXPECT_EQ(infiniteWaits.load(), 0);

    // Pending requests finish later on the manager's thread, which signals
    // the event with SetEvent. A signal left from the one before must not
    // end the next wait early, or its status would still read pending.
    SimSetCompletion(SIM_PENDING, kPendingDelayMicroseconds);
    SimLogClear();
    infiniteWaits = 0;
    RunSomeCommands();
    EXPECT_EQ(infiniteWaits.load(), static_cast<int>(ExecRequests().size()));
}

TEST_F(KernelCallsTest, ARequestRefusedAtOnceIsNotWaitedForAndAPendingFailureIsReportedAfterTheWait) {
    ImportPatch patch(Module(), kKernel, "WaitForSingleObject", Address(&CountingWaitForSingleObject));
    ASSERT_TRUE(patch.Applied());
    realWait = patch.Original<WaitFn>();
    ConnectOk();
    SimSetCompletion(SIM_PENDING, kPendingDelayMicroseconds);

    SimAddFault(0x00, 0, 1, SIM_FAULT_REFUSE);
    infiniteWaits = 0;
    EXPECT_EQ(Ready(), 0);
    EXPECT_EQ(infiniteWaits.load(), 0);

    SimAddFault(0x00, 0, 1, SIM_FAULT_CHECK_CONDITION);
    EXPECT_EQ(Ready(), 0);
    EXPECT_EQ(infiniteWaits.load(), 1);

    EXPECT_EQ(Ready(), 1);
    EXPECT_EQ(infiniteWaits.load(), 2);
}

TEST_F(KernelCallsTest, ReportsNoEventWhenNoEventCanBeCreated) {
    const char* error = nullptr;
    int32_t result = 0;
    {
        ImportPatch patch(Module(), kKernel, "CreateEventA", Address(&RefusingCreateEventA));
        ASSERT_TRUE(patch.Applied());
        result = Connect(&error);
    }
    EXPECT_EQ(result, 0);
    EXPECT_STREQ(error, "Error (no event)");
    // The search ran, but no command went out without an event to wait on.
    EXPECT_GT(DeviceTypeRequests().size(), 0u);
    EXPECT_EQ(ExecRequests().size(), 0u);
    EXPECT_EQ(Ready(), 0);
}

TEST_F(KernelCallsTest, ReportsOutOfMemoryAndKeepsNoConnection) {
    std::string message;
    {
        // The module's allocations come from the C runtime it imports.
        ImportPatch patch(Module(), kRuntime, "malloc", Address(&RefusingMalloc));
        ASSERT_TRUE(patch.Applied());
        realMalloc = patch.Original<MallocFn>();
        refusals = 1;
        message = ConnectMessage();
    }
    EXPECT_EQ(refusals.load(), 0) << "the module allocated nothing";
    EXPECT_EQ(message, "Out of memory");
    EXPECT_EQ(SimLogCount(), 0u);
    EXPECT_EQ(Ready(), 0);
}

// The wait failed, but the manager still owns the request: the module polls
// until it has finished, and every command ends as the camera ended it.
TEST_F(KernelCallsTest, AFailedWaitStillWaitsForTheManagerToFinish) {
    ConnectOk();
    ImportPatch patch(Module(), kKernel, "WaitForSingleObject", Address(&FailingWaitForSingleObject));
    ASSERT_TRUE(patch.Applied());
    SimSetCompletion(SIM_PENDING, kPendingDelayMicroseconds);
    TakeACheckedImage();
}

// A thread killed while it waits for the module's lock holds nothing: the
// call after it goes through. Bounded, so that a hang fails here.
TEST_F(KernelCallsTest, AThreadKilledWhileWaitingForTheLockStopsNoLaterCall) {
    constexpr DWORD kHangMilliseconds = 60000;
    ConnectOk();
    SimSetCompletion(SIM_PENDING, kPendingDelayMicroseconds);
    ImportPatch wait(Module(), kKernel, "WaitForSingleObject", Address(&HoldingWaitForSingleObject));
    ImportPatch sleep(Module(), kKernel, "Sleep", Address(&SignallingSleep));
    ASSERT_TRUE(wait.Applied());
    ASSERT_TRUE(sleep.Applied());
    realWait = wait.Original<WaitFn>();
    realSleep = sleep.Original<SleepFn>();
    holding = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    sleeping = CreateEventA(nullptr, TRUE, FALSE, nullptr);

    int32_t held = -1;
    int32_t killed = -1;
    int32_t later = -1;
    holdNext = true;
    HANDLE holder = CreateThread(nullptr, 0, CallReady, &held, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(holding, INFINITE), WAIT_OBJECT_0);
    HANDLE waiter = CreateThread(nullptr, 0, CallReady, &killed, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(sleeping, INFINITE), WAIT_OBJECT_0);
    ASSERT_TRUE(TerminateThread(waiter, 1));
    WaitForSingleObject(waiter, INFINITE);
    SetEvent(release);
    WaitForSingleObject(holder, INFINITE);
    EXPECT_EQ(held, 1);

    HANDLE after = CreateThread(nullptr, 0, CallReady, &later, 0, nullptr);
    const DWORD ended = WaitForSingleObject(after, kHangMilliseconds);
    if (ended != WAIT_OBJECT_0) TerminateThread(after, 1);
    EXPECT_EQ(ended, WAIT_OBJECT_0) << "the call after the killed waiter never got the lock";
    EXPECT_EQ(later, 1);
    EXPECT_EQ(killed, -1);
    for (HANDLE handle : {holder, waiter, after, holding, release, sleeping}) CloseHandle(handle);
}

// A clock pinned to one even tick: a Windows tick lasts 15.6 ms, so most of
// a waiter's tries and a holder's looks at its mark fall on one tick.
struct EvenTick {
    static DWORD Now() { return 1000; }
};

// A thread that takes the lock again the moment it lets go (as one calling
// Ready in a loop, each call yielding while its command runs) still lets a
// waiting thread in. Counted, not timed: of the holder's turns, those it
// takes while the other thread waits in lock() may number kWaitedTurns at
// most while that thread gets its 20 (under Wine: 1 when the holder gives
// way, some tens of thousands before the first when it does not).
TEST(ModuleLockTest, AThreadThatKeepsTakingTheLockLetsAWaitingOneIn) {
    constexpr int kWaiterTurns = 20;
    constexpr int kWaitedTurns = 500;
    constexpr int kTurnsAtMost = 10000000;  // should the waiting thread never run
    tarnscsi::BasicModuleLock<EvenTick> lock;
    std::atomic<int> waiterTurns{0};
    std::atomic<bool> waiting{false};
    lock.lock();
    std::thread waiter([&] {
        for (int turn = 0; turn < kWaiterTurns; ++turn) {
            waiting = true;
            lock.lock();
            waiting = false;
            ++waiterTurns;
            lock.unlock();
        }
    });
    int waitedTurns = 0;
    for (int turn = 0; turn < kTurnsAtMost && waitedTurns < kWaitedTurns && waiterTurns.load() < kWaiterTurns; ++turn) {
        if (waiting.load()) ++waitedTurns;
        lock.unlock();
        lock.lock();
        Sleep(0);
    }
    const int waiterTurnsMeanwhile = waiterTurns.load();
    lock.unlock();
    waiter.join();
    EXPECT_EQ(waiterTurnsMeanwhile, kWaiterTurns) << "the waiting thread starved (" << waitedTurns << " turns)";
}
