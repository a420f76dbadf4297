// A manager library that lacks one of its two entry points (this program
// runs once with each such library on the search path).
#if defined(_WIN32)
#include <windows.h>
#else
#include "common/dynamic_library.h"
#endif
#include <gtest/gtest.h>

#include <tarnscsi/tarnscsi.h>

namespace {

// What the manager the module would load exports: found by its plain name
// with the ordinary search, as the module finds it.
struct ManagerExports {
    bool loaded = false;
    bool support = false;
    bool send = false;
    bool identity = false;  // the simulator's own, so the library is ours
};

ManagerExports ProbeManager() {
    ManagerExports found;
#if defined(_WIN32)
    HMODULE library = LoadLibraryA("wnaspi32");
    if (library == nullptr) return found;
    found.support = GetProcAddress(library, "GetASPI32SupportInfo") != nullptr;
    found.send = GetProcAddress(library, "SendASPI32Command") != nullptr;
    found.identity = GetProcAddress(library, "SimIdentity") != nullptr;
    FreeLibrary(library);
#else
    const tarnscsi::DynamicLibrary library("libwnaspi32.so");
    if (!library.IsLoaded()) return found;
    found.support = library.Has("GetASPI32SupportInfo");
    found.send = library.Has("SendASPI32Command");
    found.identity = library.Has("SimIdentity");
#endif
    found.loaded = true;
    return found;
}

}  // namespace

TEST(CorruptManager, ConnectSaysSoAndTheExportsRefuse) {
    const char* error = nullptr;
    EXPECT_EQ(Connect(&error), 0);
    EXPECT_STREQ(error, "Corrupt wnaspi32");
    int32_t cooling = 9;
    EXPECT_EQ(Ready(), 0);
    EXPECT_EQ(SetTemperature(0), 0);
    EXPECT_EQ(GetCoolingInfo(&cooling), TARNSCSI_NO_READING);
    EXPECT_EQ(cooling, 9);
    Disconnect();
}

TEST(CorruptManager, TheLibraryOnThePathIsOurBrokenVariant) {
    const ManagerExports manager = ProbeManager();
    ASSERT_TRUE(manager.loaded);
    EXPECT_TRUE(manager.identity);
    EXPECT_NE(manager.support, manager.send);
}
