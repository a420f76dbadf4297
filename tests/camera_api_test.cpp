// The C++ camera API: the same operations, plus the buffer-capacity guard
// that the exports cannot have.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "api/camera.h"
#include "sim_control.h"
#include "support/bus_log.h"

using namespace testing_support;
using tarnscsi::Camera;
using tarnscsi::DownloadStatus;

class CameraApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        SimReset();
        std::string error;
        camera = Camera::Open(error);
        ASSERT_TRUE(camera) << error;
        SimLogClear();
    }
    void TearDown() override {
        camera.reset();
        SimReset();
    }
    std::unique_ptr<Camera> camera;
};

TEST_F(CameraApiTest, OpensWhereTheCameraIsOrSaysWhyNot) {
    EXPECT_EQ(camera->Adapter(), SIM_DEFAULT_ADAPTER);
    EXPECT_EQ(camera->Target(), SIM_DEFAULT_TARGET);
    SimClearBus(1);
    std::string error;
    EXPECT_FALSE(Camera::Open(error));
    EXPECT_EQ(error, "Camera not found");
}

TEST_F(CameraApiTest, DownloadsIntoABufferThatFits) {
    ASSERT_TRUE(camera->Expose({0, 0, 0, 101, 61, 1, 0}));  // binned: 100 x 60 -> 50 x 30 pixels
    std::vector<std::uint8_t> image(50 * 30 * 2);
    const auto result = camera->Download(image);
    ASSERT_EQ(result.status, DownloadStatus::kOk) << result.message;
    EXPECT_EQ(result.bytes, image.size());
    EXPECT_EQ(result.window.width, 100);
    EXPECT_EQ(result.window.binned, 1);
    std::vector<std::uint8_t> sent(SimLastImage(nullptr, 0));
    SimLastImage(sent.data(), static_cast<std::uint32_t>(sent.size()));
    EXPECT_EQ(image, sent);
}

TEST_F(CameraApiTest, RefusesAWindowLargerThanTheBufferBeforeReadingAnything) {
    ASSERT_TRUE(camera->Expose({0, 0, 0, 768, 512, 0, 0}));
    SimLogClear();
    std::vector<std::uint8_t> image(768 * 512 * 2 - 1, 0xAA);
    const auto result = camera->Download(image);
    EXPECT_EQ(result.status, DownloadStatus::kBufferTooSmall);
    EXPECT_EQ(result.bytes, 768u * 512 * 2);
    EXPECT_NE(result.message.find("786432"), std::string::npos) << result.message;
    EXPECT_EQ(ExecRequests(0x28).size(), 0u);
    EXPECT_TRUE(std::all_of(image.begin(), image.end(), [](std::uint8_t b) { return b == 0xAA; }));
}

TEST_F(CameraApiTest, RefusesAWindowWhoseSizeOnlyFitsBecauseItWraps) {
    // 65536 x 32768 pixels of two bytes is 2^32 bytes: zero in 32 bits.
    std::vector<std::uint8_t> list(78, 0);
    list[7] = 0x46;
    list[8] = 0x01;
    list[10] = list[12] = 0x0B;
    list[11] = list[13] = 0x06;
    list[23] = 0x01;  // width 0x00010000
    list[28] = 0x80;  // height 0x00008000
    SimScriptReply(0x25, list.data(), static_cast<std::uint32_t>(list.size()), 1);
    std::vector<std::uint8_t> image(16);
    const auto result = camera->Download(image);
    EXPECT_EQ(result.status, DownloadStatus::kBufferTooSmall) << result.message;
    EXPECT_NE(result.message.find("4294967296"), std::string::npos) << result.message;
    EXPECT_EQ(ExecRequests(0x28).size(), 0u);
}

TEST_F(CameraApiTest, SaysWhichStepOfADownloadFailed) {
    ASSERT_TRUE(camera->Expose({0, 0, 0, 768, 512, 0, 0}));
    std::vector<std::uint8_t> image(768 * 512 * 2);
    SimAddFault(0x25, 0, 1, SIM_FAULT_CHECK_CONDITION);
    EXPECT_EQ(camera->Download(image).status, DownloadStatus::kWindowUnreadable);
    SimAddFault(0x28, 3, 1, SIM_FAULT_CHECK_CONDITION);
    EXPECT_EQ(camera->Download(image).status, DownloadStatus::kReadFailed);
}

TEST_F(CameraApiTest, CoolingReadingsAndReadiness) {
    ASSERT_TRUE(camera->SetTemperature(-50));
    const auto reading = camera->ReadCooling();
    ASSERT_TRUE(reading);
    EXPECT_EQ(reading->temperature, -50);
    EXPECT_TRUE(camera->Ready());
    SimAddFault(0x1A, 0, 1, SIM_FAULT_REFUSE);
    EXPECT_FALSE(camera->ReadCooling());
}
