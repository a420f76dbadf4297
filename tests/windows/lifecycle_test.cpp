// What a connection holds and gives back on Windows: its completion event
// and its reference to the manager library, over many connections. The
// module finds our manager beside this program by itself; the program does
// not link it. The events are followed through the module's import table:
// Wine does not count a process's handles, and a closed handle's value is
// soon given to the next handle opened.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>

#include <tarnscsi/tarnscsi.h>
#include "import_patch.h"

using win32_test::ImportPatch;
using win32_test::ManagerLoaded;

namespace {

// A thousand connections by default; TARNSCSI_LIFECYCLE_CONNECTIONS sets
// fewer (at least 10) where every program runs many times slower, as under
// emulation, and a leak still shows as one event or library per connection.
int Connections() {
    constexpr int kDefault = 1000;
    constexpr int kFewest = 10;
    char const* text = std::getenv("TARNSCSI_LIFECYCLE_CONNECTIONS");
    if (text == nullptr) {
        return kDefault;
    }
    try {
        int const count = std::stoi(text);
        return count < kFewest ? kFewest : (count > kDefault ? kDefault : count);
    } catch (std::exception const&) {
        return kDefault;
    }
}
constexpr char kKernel[] = "KERNEL32.dll";

// The events the module has made and not yet closed, and how many it made.
std::set<HANDLE> openEvents;
int eventsMade = 0;

using CreateEventFn = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR);
CreateEventFn realCreateEvent = nullptr;
using CloseHandleFn = BOOL(WINAPI*)(HANDLE);
CloseHandleFn realCloseHandle = nullptr;

HANDLE WINAPI RecordingCreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState,
                                    LPCSTR name) {
    HANDLE event = realCreateEvent(attributes, manualReset, initialState, name);
    if (event != nullptr) {
        openEvents.insert(event);
        ++eventsMade;
    }
    return event;
}

BOOL WINAPI RecordingCloseHandle(HANDLE handle) {
    openEvents.erase(handle);
    return realCloseHandle(handle);
}

void ConnectOk() {
    const char* error = nullptr;
    ASSERT_EQ(Connect(&error), 1) << (error ? error : "");
}

class Lifecycle : public ::testing::Test {
protected:
    void SetUp() override {
        openEvents.clear();
        eventsMade = 0;
        HMODULE module = GetModuleHandleA("TARNSCSI.dll");
        createCall =
            std::make_unique<ImportPatch>(module, kKernel, "CreateEventA", win32_test::Address(&RecordingCreateEventA));
        closeCall =
            std::make_unique<ImportPatch>(module, kKernel, "CloseHandle", win32_test::Address(&RecordingCloseHandle));
        ASSERT_TRUE(createCall->Applied() && closeCall->Applied());
        realCreateEvent = createCall->Original<CreateEventFn>();
        realCloseHandle = closeCall->Original<CloseHandleFn>();
    }
    void TearDown() override {
        Disconnect();
        createCall.reset();
        closeCall.reset();
    }

private:
    std::unique_ptr<ImportPatch> createCall;
    std::unique_ptr<ImportPatch> closeCall;
};

}  // namespace

TEST_F(Lifecycle, ManyConnectionsLeaveNoEventOrLibraryBehind) {
    int const connections = Connections();
    for (int i = 0; i < connections; ++i) {
        ConnectOk();
        ASSERT_EQ(Ready(), 1);
        ASSERT_TRUE(ManagerLoaded());
        Disconnect();
    }
    EXPECT_EQ(eventsMade, connections);
    EXPECT_TRUE(openEvents.empty());
    EXPECT_FALSE(ManagerLoaded());
}

TEST_F(Lifecycle, ConnectingAgainReleasesTheOldConnection) {
    ConnectOk();
    EXPECT_EQ(openEvents.size(), 1u);
    ConnectOk();
    EXPECT_EQ(eventsMade, 2);
    EXPECT_EQ(openEvents.size(), 1u);
    Disconnect();
    EXPECT_TRUE(openEvents.empty());
    EXPECT_FALSE(ManagerLoaded()) << "the first connection kept its library reference";
}

TEST_F(Lifecycle, AFailedConnectionIsReleasedToo) {
    // Through the manager's own control interface: an empty bus.
    HMODULE manager = LoadLibraryA(win32_test::kManagerName);
    ASSERT_NE(manager, nullptr);
    const auto clearBus = win32_test::ProcAddress<void (*)(int)>(manager, "SimClearBus");
    const auto reset = win32_test::ProcAddress<void (*)()>(manager, "SimReset");
    ASSERT_TRUE(clearBus && reset);
    clearBus(1);
    const char* error = nullptr;
    EXPECT_EQ(Connect(&error), 0);
    EXPECT_STREQ(error, "Camera not found");
    Disconnect();
    EXPECT_EQ(eventsMade, 1);
    EXPECT_TRUE(openEvents.empty());
    reset();
    FreeLibrary(manager);
    EXPECT_FALSE(ManagerLoaded()) << "the failed connection kept its library reference";
}
