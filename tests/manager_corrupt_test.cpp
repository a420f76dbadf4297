// A manager library that lacks one of its two entry points (this program
// runs once with each such library on the search path).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "exports.h"

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
    void* library = dlopen("libwnaspi32.so", RTLD_NOW);
    ASSERT_NE(library, nullptr);
    const bool has_support = dlsym(library, "GetASPI32SupportInfo") != nullptr;
    const bool has_send = dlsym(library, "SendASPI32Command") != nullptr;
    EXPECT_NE(has_support, has_send);
    dlclose(library);
}
