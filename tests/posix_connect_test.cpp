// Connect when the platform refuses what the connection needs: the event
// (an eventfd, here) or the memory for the connection itself. Both failures
// are made with POSIX means: a descriptor limit, and a stand-in for the
// library's operator new (nothrow) that the module binds to.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <new>
#include <string>
#include <vector>

#include "manager/aspi_entry.h"
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

// Allocation failure: the program's operator new (nothrow) stands in for
// the library's, so the module's allocation of its connection can fail.
namespace {
bool failAllocation = false;
}

__attribute__((visibility("default"))) void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (failAllocation) return nullptr;
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

TEST_F(ConnectTest, ReportsOutOfMemoryAndKeepsNoConnection) {
    failAllocation = true;
    const std::string message = ConnectMessage();
    failAllocation = false;
    EXPECT_EQ(message, "Out of memory");
    EXPECT_EQ(SimLogCount(), 0u);
    EXPECT_EQ(Ready(), 0);
}
