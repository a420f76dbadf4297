// No ASPI manager anywhere on the library search path.
#include <gtest/gtest.h>

#include <vector>

#include <tarnscsi/tarnscsi.h>

TEST(MissingManager, ConnectSaysSoAndTheExportsRefuse) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const char* error = nullptr;
        EXPECT_EQ(Connect(&error), 0);
        EXPECT_STREQ(error, "Missing wnaspi32");
        std::vector<std::uint8_t> image(16, 0xAA);
        int32_t cooling = 9;
        EXPECT_EQ(Expose(1, 0, 0, 2, 2, 0, 0), 0);
        EXPECT_EQ(Download(image.data()), 0);
        EXPECT_EQ(Ready(), 0);
        EXPECT_EQ(SetTemperature(0), 0);
        EXPECT_EQ(GetCoolingInfo(&cooling), TARNSCSI_NO_READING);
        EXPECT_EQ(cooling, 9);
        EXPECT_EQ(image, std::vector<std::uint8_t>(16, 0xAA));
    }
    Disconnect();
    Disconnect();
}
