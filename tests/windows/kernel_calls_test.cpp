// The Win32 kernel calls the module makes, seen through its import table:
// the manager loaded by its plain name, one manual-reset event per
// connection handed to the manager in SRB_PostProc, a wait exactly for each
// pending request, and what Connect says when the event or the memory for
// the connection cannot be had.
#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

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
