// Connect when the platform refuses what the connection needs: the event
// (an eventfd, here) or the memory for the connection itself; and the bus
// scan when memory runs out. The failures are made with POSIX means: a
// descriptor limit, and a stand-in for the library's operator new
// (nothrow) that the module binds to.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include <tarnscsi/bus.h>

#include "core/aspi_entry.h"
#include "support/module_fixture.h"

using namespace tarnscsi::testing_support;

namespace {

std::string ConnectMessage() {
    const char* error = "untouched";
    EXPECT_EQ(Connect(&error), 0);
    return error;
}

}  // namespace

using ConnectTest = ModuleTest;

TEST_F(ConnectTest, ReportsNoEventWhenNoEventCanBeCreated) {
    // Several things wrong at once: the missing event is told first, before
    // what the search found (no camera, or one held elsewhere).
    enum class Bus { kCamera, kEmpty, kHeld };
    for (const Bus bus : {Bus::kCamera, Bus::kEmpty, Bus::kHeld}) {
        SCOPED_TRACE(static_cast<int>(bus));
        Disconnect();
        SimReset();
        if (bus == Bus::kEmpty) SimClearBus(1);
        char holder[64] = {};
        if (bus == Bus::kHeld) {
            ASSERT_EQ(AspiClaimTarget(SIM_DEFAULT_ADAPTER, SIM_DEFAULT_TARGET, holder, 64), 1u);
        }

        // Exhaust the descriptors so that the event (an eventfd) cannot be
        // made; the manager is already loaded, so loading it needs none.
        rlimit saved{};
        ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
        rlimit low = saved;
        low.rlim_cur = 256;
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
        std::vector<int> fillers;
        for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) fillers.push_back(fd);

        const char* error = nullptr;
        const int32_t result = Connect(&error);

        for (int fd : fillers) close(fd);
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
        if (bus == Bus::kHeld) {
            AspiReleaseTarget(SIM_DEFAULT_ADAPTER, SIM_DEFAULT_TARGET);
        }

        EXPECT_EQ(result, 0);
        EXPECT_STREQ(error, "Error (no event)");
        // The search ran, but no command went out without an event to wait on.
        EXPECT_GT(DeviceTypeRequests().size(), 0u);
        EXPECT_EQ(ExecRequests().size(), 0u);
    }
}

// Allocation failure: the program's operator new stands in for the
// library's (the module binds to the program's), failing the n-th allocation
// made on the armed thread after arming. The simulated manager in this
// process allocates too, so a failure may also land in the manager: the
// exports must hold whatever comes back through them.
namespace {

thread_local bool armed = false;
thread_local std::size_t allocationsLeft = 0;
thread_local bool failed = false;

// Fails the n-th allocation from now (counted from 1) on this thread.
void FailAllocationNumber(std::size_t n) {
    allocationsLeft = n;
    failed = false;
    armed = true;
}

// Disarms; true when the armed failure happened.
bool Disarm() {
    armed = false;
    return failed;
}

}  // namespace

__attribute__((visibility("default"))) void* operator new(std::size_t size) {
    if (armed && --allocationsLeft == 0) {
        armed = false;
        failed = true;
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}

__attribute__((visibility("default"))) void operator delete(void* memory) noexcept { std::free(memory); }
__attribute__((visibility("default"))) void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

TEST_F(ConnectTest, ReportsOutOfMemoryAndKeepsNoConnection) {
    FailAllocationNumber(1);  // the connection itself
    const std::string message = ConnectMessage();
    ASSERT_TRUE(Disarm());
    EXPECT_EQ(message, "Out of memory");
    EXPECT_EQ(SimLogCount(), 0u);
    EXPECT_EQ(Ready(), 0);
}

TEST_F(ConnectTest, SurvivesEveryAllocationFailingInTurn) {
    // On a bus where the camera is free and on one where another program
    // holds it (the search then builds the text that names the holder).
    for (const bool held : {false, true}) {
        SCOPED_TRACE(held ? "camera held" : "camera free");
        char holder[64] = {};
        bool outOfMemorySeen = false;
        // Bounded: a Connect makes a few dozen allocations at most.
        for (std::size_t n = 1; n < 1000; ++n) {
            SCOPED_TRACE(n);
            Disconnect();
            SimReset();
            if (held) {
                ASSERT_EQ(AspiClaimTarget(SIM_DEFAULT_ADAPTER, SIM_DEFAULT_TARGET, holder, 64), 1u);
            }
            const char* error = "untouched";
            FailAllocationNumber(n);
            const int32_t result = Connect(&error);
            const bool hit = Disarm();
            if (held) AspiReleaseTarget(SIM_DEFAULT_ADAPTER, SIM_DEFAULT_TARGET);
            if (!hit) {
                // Every allocation has now been failed once.
                EXPECT_EQ(result, held ? 0 : 1);
                EXPECT_STREQ(error, held ? "Camera in use" : "untouched");
                break;
            }
            ASSERT_LT(n, 999u) << "Connect never got through";
            if (result == 0 && std::string(error) == "Out of memory") outOfMemorySeen = true;
            // A failure the manager absorbed may lose the camera, never more.
            if (result == 0) {
                EXPECT_EQ(Ready(), 0);
            }
            // Whatever failed, nothing was left held: the next Connect works.
            Disconnect();
            const char* again = nullptr;
            EXPECT_EQ(Connect(&again), 1) << (again != nullptr ? again : "");
        }
        EXPECT_TRUE(outOfMemorySeen);
    }
}

// The bus scan with each of its allocations failing in turn (its look at
// each device takes memory): no claim outlives it, so Connect finds the
// camera free after every one.
TEST_F(ConnectTest, TheBusScanLeavesNothingClaimedWhateverAllocationFails) {
    // Bounded: a scan makes a few dozen allocations at most.
    for (std::size_t n = 1; n < 1000; ++n) {
        SCOPED_TRACE(n);
        FailAllocationNumber(n);
        try {
            (void)tarnscsi::ScanBus();
        } catch (const std::bad_alloc&) {}
        const bool hit = Disarm();
        const char* error = nullptr;
        EXPECT_EQ(Connect(&error), 1) << (error != nullptr ? error : "");
        Disconnect();
        if (!hit) break;
    }
}
