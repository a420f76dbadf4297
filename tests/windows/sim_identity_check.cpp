// Linked into every Windows test program that works with our simulated
// manager: before the first test it loads "wnaspi32" as the module does and
// checks that it is our simulator. Wine prefers its own built-in wnaspi32
// unless told otherwise, and a test against the wrong manager proves nothing.
#include <gtest/gtest.h>

#include <string>

#include "win32_test_support.h"

namespace {

class OurManagerIsLoaded : public ::testing::Environment {
public:
    void SetUp() override {
        HMODULE manager = LoadLibraryA(win32_test::kManagerName);
        ASSERT_NE(manager, nullptr) << "no wnaspi32 found (error " << GetLastError() << ")";
        using IdentityFn = const char* (*)();
        const auto identity = win32_test::ProcAddress<IdentityFn>(manager, "SimIdentity");
        const std::string name = identity != nullptr ? identity() : "(no SimIdentity)";
        FreeLibrary(manager);
        ASSERT_EQ(name, win32_test::kSimIdentity) << "the wnaspi32 loaded is not our simulator";
    }
};

[[maybe_unused]] ::testing::Environment* const registered = ::testing::AddGlobalTestEnvironment(new OurManagerIsLoaded);

}  // namespace
