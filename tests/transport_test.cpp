// How requests are handed to the manager: the fields the transport sets,
// the completion event, and waiting exactly when the manager says pending.
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <set>
#include <vector>

#include "support/module_fixture.h"

using namespace tarnscsi::testing_support;

// Every wait on the completion event is a poll(); this definition counts
// those without time limit and hands them on to the C library. With
// `failWaits` set they all fail at once, as a wait on a closed or unusable
// event does. The libraries the module unloads are counted too.
namespace {
std::atomic<int> infiniteWaits{0};
std::atomic<bool> failWaits{false};
std::atomic<int> libraryReleases{0};
}  // namespace

extern "C" __attribute__((visibility("default"))) int poll(struct pollfd* fds, nfds_t count, int timeout) {
    using PollFn = int (*)(struct pollfd*, nfds_t, int);
    static PollFn real = reinterpret_cast<PollFn>(dlsym(RTLD_NEXT, "poll"));
    if (timeout < 0) ++infiniteWaits;
    if (failWaits) {
        errno = ENOMEM;
        return -1;
    }
    return real(fds, count, timeout);
}

extern "C" __attribute__((visibility("default"))) int dlclose(void* handle) noexcept {
    using DlcloseFn = int (*)(void*);
    static DlcloseFn real = reinterpret_cast<DlcloseFn>(dlsym(RTLD_NEXT, "dlclose"));
    ++libraryReleases;
    return real(handle);
}

using TransportTest = ModuleTest;

TEST_F(TransportTest, CompletesEveryBlockTheSameWayKeepingTheDirection) {
    ConnectOk();
    RunSomeCommands();
    const auto requests = ExecRequests();
    ASSERT_FALSE(requests.empty());
    std::set<std::uint64_t> events;
    for (const SimRequest& r : requests) {
        SCOPED_TRACE(static_cast<int>(r.cdb[0]));
        EXPECT_EQ(r.senseLength, 14);
        EXPECT_EQ(r.lun, 0);
        const bool writes = r.cdb[0] == 0x15 || r.cdb[0] == 0x24 || r.cdb[0] == 0x1B;
        EXPECT_EQ(r.flags, writes ? 0x50 : 0x48);
        events.insert(r.postProc);
    }
    // One event serves the whole connection, and it is a descriptor that no
    // standard stream can be.
    ASSERT_EQ(events.size(), 1u);
    EXPECT_GE(*events.begin(), 3u);
}

TEST_F(TransportTest, WaitsOnceForEachPendingRequestAndNeverForAnImmediateOne) {
    ConnectOk();
    infiniteWaits = 0;
    SimLogClear();
    RunSomeCommands();
    EXPECT_EQ(infiniteWaits.load(), 0);

    // Pending requests finish later on the manager's thread; a stale signal
    // from the one before must not end the next wait early, or its status
    // would still read pending and the command would fail.
    SimSetCompletion(SIM_PENDING, 2000);
    SimLogClear();
    infiniteWaits = 0;
    RunSomeCommands();
    EXPECT_EQ(infiniteWaits.load(), static_cast<int>(ExecRequests().size()));
}

TEST_F(TransportTest, ARequestRefusedAtOnceIsNotWaitedFor) {
    ConnectOk();
    SimSetCompletion(SIM_PENDING, 1000);
    SimAddFault(0x00, 0, 1, SIM_FAULT_REFUSE);
    infiniteWaits = 0;
    EXPECT_EQ(Ready(), 0);
    EXPECT_EQ(infiniteWaits.load(), 0);
    EXPECT_EQ(Ready(), 1);
    EXPECT_EQ(infiniteWaits.load(), 1);
}

TEST_F(TransportTest, APendingFailureIsReportedAfterTheWait) {
    ConnectOk();
    SimSetCompletion(SIM_PENDING, 1000);
    SimAddFault(0x00, 0, 1, SIM_FAULT_CHECK_CONDITION);
    infiniteWaits = 0;
    EXPECT_EQ(Ready(), 0);
    EXPECT_EQ(infiniteWaits.load(), 1);
}

// A failed wait leaves the request with the manager: the module waits for
// its final status before the block and the buffer are used again, so every
// command still ends as the camera ended it and the image is whole.
TEST_F(TransportTest, AFailedWaitStillWaitsForTheManagerToFinish) {
    constexpr std::uint32_t kLateMicroseconds = 20000;
    ConnectOk();
    SimSetCompletion(SIM_PENDING, kLateMicroseconds);
    infiniteWaits = 0;
    failWaits = true;
    struct Restore {
        ~Restore() { failWaits = false; }
    } restore;
    TakeACheckedImage();
    EXPECT_GT(infiniteWaits.load(), 0);
}

// Its waits failing to the end, the request's signal may come after the
// connection is gone: the event stays open and the manager loaded, so that
// no signal writes to a descriptor reused meanwhile and no code that may
// still complete the request is unloaded.
TEST_F(TransportTest, ASignalStillToComeKeepsTheEventAndTheManager) {
    ConnectOk();
    SimSetCompletion(SIM_PENDING, 1000);
    SimLogClear();
    failWaits = true;
    EXPECT_EQ(Ready(), 1);
    libraryReleases = 0;
    Disconnect();
    failWaits = false;
    EXPECT_EQ(libraryReleases.load(), 0) << "the manager was unloaded";
    const auto requests = ExecRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(fcntl(static_cast<int>(requests[0].postProc), F_GETFD), -1) << "the event was closed";
}

// A manager that signals without a final status: after a short look at
// the status the command fails, as the wait's end decides, and the next
// one goes through.
TEST_F(TransportTest, ASignalWithoutAFinalStatusFailsTheCommand) {
    ConnectOk();
    SimAddFault(0x00, 0, 1, SIM_FAULT_NO_FINAL_STATUS);
    EXPECT_EQ(Ready(), 0);
    EXPECT_EQ(Ready(), 1);
}

TEST_F(TransportTest, TheEventStaysClearOfTheStandardStreams) {
    const int savedStdin = dup(STDIN_FILENO);
    ASSERT_GE(savedStdin, 0);
    close(STDIN_FILENO);
    const char* error = nullptr;
    const int32_t connected = Connect(&error);
    dup2(savedStdin, STDIN_FILENO);
    close(savedStdin);
    ASSERT_EQ(connected, 1) << error;
    const auto requests = ExecRequests();
    ASSERT_FALSE(requests.empty());
    EXPECT_GE(requests[0].postProc, 3u);
}
