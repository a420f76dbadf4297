// Common set-up for tests that drive the module's exports against the
// simulated manager: every test starts on the default bus with no
// connection and ends disconnected.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include <tarnscsi/tarnscsi.h>
#include "sim_control.h"
#include "support/bus_log.h"

// One of each kind of command on a connected camera: read with data, write
// with data, no data.
inline void RunSomeCommands() {
    EXPECT_EQ(SetTemperature(-50), 1);
    int32_t cooling = 0;
    EXPECT_NE(GetCoolingInfo(&cooling), TARNSCSI_NO_READING);
    EXPECT_EQ(Expose(10, 0, 0, 64, 32, 0, 0), 1);
    EXPECT_EQ(Ready(), 1);
    std::vector<std::uint8_t> image(64 * 32 * 2);
    EXPECT_EQ(Download(image.data()), 1);
}

// A whole image taken on a connected camera, as an application takes one,
// each result checked against what the simulated camera did: the image
// downloaded is the one it sent, the reading the one it reports.
inline void TakeACheckedImage() {
    ASSERT_EQ(SetTemperature(-100), 1);
    ASSERT_EQ(Expose(100, 0, 0, 64, 32, 8, 4), 1);
    ASSERT_EQ(Ready(), 1);
    std::vector<std::uint8_t> image(64 * 32 * 2, 0xAA);
    ASSERT_EQ(Download(image.data()), 1);
    std::vector<std::uint8_t> sent(SimLastImage(nullptr, 0));
    SimLastImage(sent.data(), static_cast<std::uint32_t>(sent.size()));
    EXPECT_EQ(image, sent);
    int32_t cooling = -1;
    EXPECT_EQ(GetCoolingInfo(&cooling), SimTemperature());
    EXPECT_EQ(static_cast<std::uint32_t>(cooling), SimCoolerDrive());
}

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        Disconnect();
        SimReset();
    }
    void TearDown() override {
        Disconnect();
        SimReset();
    }

    // Connects on the bus as laid out, expecting success.
    static void ConnectOk() {
        const char* error = nullptr;
        ASSERT_EQ(Connect(&error), 1) << (error ? error : "");
    }
};
