// TARNSCSI.dll as imaging applications use it: loaded at run time with
// LoadLibrary, its functions looked up by name (or by ordinal), and unloaded
// again with FreeLibrary, perhaps many times in one session. This program
// does not link the module.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>

#include "win32_test_support.h"

using win32_test::ProcAddress;

namespace {

constexpr char kModuleName[] = "TARNSCSI.dll";
constexpr int kLoads = 3;
// GetCoolingInfo's result without a reading.
constexpr std::int32_t kNoReading = std::numeric_limits<std::int32_t>::min();

// The exports in ordinal order (1 to 7).
constexpr std::array<const char*, 7> kExports = {"Connect",        "Disconnect", "Download",      "Expose",
                                                 "GetCoolingInfo", "Ready",      "SetTemperature"};

using ConnectFn = std::int32_t(__cdecl*)(const char**);
using DisconnectFn = void(__cdecl*)();
using ReadyFn = std::int32_t(__cdecl*)();
using GetCoolingInfoFn = std::int32_t(__cdecl*)(std::int32_t*);

}  // namespace

TEST(ApplicationLoad, FindsEveryExportByNameAndByOrdinal) {
    HMODULE module = LoadLibraryA(kModuleName);
    ASSERT_NE(module, nullptr) << "error " << GetLastError();
    for (std::size_t i = 0; i < kExports.size(); ++i) {
        SCOPED_TRACE(kExports[i]);
        const FARPROC byName = GetProcAddress(module, kExports[i]);
        EXPECT_NE(byName, nullptr);
        EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(i + 1)), byName);
    }
    EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(kExports.size() + 1)), nullptr);
    FreeLibrary(module);
}

TEST(ApplicationLoad, WorksAfterBeingUnloadedAndLoadedAgain) {
    for (int load = 0; load < kLoads; ++load) {
        SCOPED_TRACE(load);
        HMODULE module = LoadLibraryA(kModuleName);
        ASSERT_NE(module, nullptr) << "error " << GetLastError();
        const auto connect = ProcAddress<ConnectFn>(module, "Connect");
        const auto disconnect = ProcAddress<DisconnectFn>(module, "Disconnect");
        const auto ready = ProcAddress<ReadyFn>(module, "Ready");
        const auto getCoolingInfo = ProcAddress<GetCoolingInfoFn>(module, "GetCoolingInfo");
        ASSERT_TRUE(connect && disconnect && ready && getCoolingInfo);

        // Each load starts without a connection.
        EXPECT_EQ(ready(), 0);
        const char* error = nullptr;
        ASSERT_EQ(connect(&error), 1) << (error ? error : "");
        EXPECT_EQ(ready(), 1);
        std::int32_t cooling = -1;
        EXPECT_NE(getCoolingInfo(&cooling), kNoReading);
        EXPECT_GE(cooling, 0);
        disconnect();

        ASSERT_TRUE(FreeLibrary(module));
        EXPECT_EQ(GetModuleHandleA(kModuleName), nullptr) << "the module stayed loaded";
        EXPECT_FALSE(win32_test::ManagerLoaded()) << "the manager stayed loaded";
    }
}

// Unloaded without Disconnect, as applications that load drivers on demand
// do: the module gives the camera back, and loaded again it connects. Last:
// the manager, kept by the connection left behind, stays loaded.
TEST(ApplicationLoad, UnloadedWhileConnectedItConnectsAgainOnceLoaded) {
    for (int load = 0; load < 2; ++load) {
        SCOPED_TRACE(load);
        HMODULE module = LoadLibraryA(kModuleName);
        ASSERT_NE(module, nullptr) << "error " << GetLastError();
        const auto connect = ProcAddress<ConnectFn>(module, "Connect");
        ASSERT_TRUE(connect);
        const char* error = nullptr;
        EXPECT_EQ(connect(&error), 1) << (error ? error : "");
        ASSERT_TRUE(FreeLibrary(module));
        EXPECT_EQ(GetModuleHandleA(kModuleName), nullptr) << "the module stayed loaded";
    }
}
