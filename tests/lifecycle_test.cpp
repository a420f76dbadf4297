// What a connection holds and gives back: descriptors and the manager
// library, over many connections, and its claim when the module is
// unloaded under it. The module finds the manager on the
// search path by itself; this program does not link it.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <tarnscsi/tarnscsi.h>

#include "common/dynamic_library.h"

namespace {

int OpenDescriptors() {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.') ++count;
    closedir(dir);
    return count;
}

bool ManagerMapped() {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);)
        if (line.find("libwnaspi32.so") != std::string::npos) return true;
    return false;
}

void ConnectOk() {
    const char* error = nullptr;
    ASSERT_EQ(Connect(&error), 1) << (error ? error : "");
}

}  // namespace

TEST(Lifecycle, ManyConnectionsLeaveNoDescriptorOrLibraryBehind) {
    const int before = OpenDescriptors();
    for (int i = 0; i < 1000; ++i) {
        ConnectOk();
        ASSERT_EQ(Ready(), 1);
        Disconnect();
    }
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_FALSE(ManagerMapped());
}

TEST(Lifecycle, ConnectingAgainReleasesTheOldConnection) {
    const int before = OpenDescriptors();
    ConnectOk();
    const int connected = OpenDescriptors();
    EXPECT_EQ(connected, before + 1);  // the completion event
    ConnectOk();
    EXPECT_EQ(OpenDescriptors(), connected);
    Disconnect();
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_FALSE(ManagerMapped()) << "the first connection kept its library reference";
}

TEST(Lifecycle, AFailedConnectionIsReleasedToo) {
    // Through the manager's own control interface: an empty bus.
    const tarnscsi::DynamicLibrary manager("libwnaspi32.so");
    ASSERT_TRUE(manager.IsLoaded()) << manager.Error();
    const auto clearBus = manager.Symbol<void (*)(int)>("SimClearBus");
    const auto reset = manager.Symbol<void (*)()>("SimReset");
    ASSERT_TRUE(clearBus && reset);
    clearBus(1);
    const int before = OpenDescriptors();
    const char* error = nullptr;
    EXPECT_EQ(Connect(&error), 0);
    EXPECT_STREQ(error, "Camera not found");
    // The failed connection is current until Disconnect: its event is open.
    EXPECT_EQ(OpenDescriptors(), before + 1);
    Disconnect();
    EXPECT_EQ(OpenDescriptors(), before);
    reset();
}

// For the leak check of the asan build: a module unloaded while connected
// leaves its connection behind, by design (below).
extern "C" __attribute__((visibility("default"))) const char*
__lsan_default_suppressions() {  // NOLINT(readability-identifier-naming): the sanitizer's name
    return "leak:Lifecycle_AModuleUnloadedWhileConnectedLetsTheCameraGo_Test\n";
}

// An application that loads the module on demand and unloads it without
// Disconnect: the connection stays (its manager loaded, its event open),
// but its claim on the camera goes with the module, so the module loaded
// again connects. A second copy of the module in the process (this
// program's own) is another connection: refused while the first holds
// the camera. Last: the manager stays loaded after it.
TEST(Lifecycle, AModuleUnloadedWhileConnectedLetsTheCameraGo) {
    // A copy of its own, as if under another name: this program's module
    // stays loaded.
    const std::filesystem::path copy = std::filesystem::path(testing::TempDir()) / "libtarnscsi-unload-copy.so";
    std::filesystem::copy_file(MODULE_PATH, copy, std::filesystem::copy_options::overwrite_existing);
    using ConnectFn = int32_t (*)(const char**);
    for (int load = 0; load < 2; ++load) {
        SCOPED_TRACE(load);
        void* module = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(module, nullptr) << dlerror();
        const auto connect = reinterpret_cast<ConnectFn>(dlsym(module, "Connect"));
        ASSERT_NE(connect, nullptr);
        const char* error = nullptr;
        ASSERT_EQ(connect(&error), 1) << (error ? error : "");
        EXPECT_EQ(Connect(&error), 0);
        EXPECT_STREQ(error, "Camera in use");
        Disconnect();
        ASSERT_EQ(dlclose(module), 0);
        EXPECT_EQ(dlopen(copy.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr) << "the module stayed loaded";
    }
    ConnectOk();
    Disconnect();
    std::filesystem::remove(copy);
}
