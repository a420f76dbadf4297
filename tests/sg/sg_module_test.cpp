// The module's camera session through the SCSI generic manager on the fake
// kernel: what reaches SG_IO for each of the module's commands, how the
// search crosses adapters and an unopenable scanner, and what the manager
// reports. (The full session with its image check is the module's own
// typical exposure test, built a second time against this manager.)
#include <gtest/gtest.h>
#include <scsi/sg.h>

#include <map>
#include <string>
#include <vector>

#include <tarnscsi/camera.h>
#include "fake_manager/sg_fake_control.h"
#include "aspi_sg_report.h"
#include "sim_control.h"

namespace {

constexpr unsigned kTimeLimitFromEnvironment = 45000;  // TARNSCSI_SG_TIMEOUT=45 in the test's environment

std::vector<SgFakeIo> CarriedRequests() {
    std::vector<SgFakeIo> requests(SgFakeIoCount());
    for (std::uint32_t i = 0; i < requests.size(); ++i) {
        SgFakeIoGet(i, &requests[i]);
    }
    return requests;
}

std::string Diagnostics() {
    std::string text(SgDiagnostics(nullptr, 0), '\0');
    SgDiagnostics(text.data(), static_cast<std::uint32_t>(text.size() + 1));
    return text;
}

class SgModuleTest : public ::testing::Test {
protected:
    void SetUp() override { SimReset(); }
    void TearDown() override { SimReset(); }
};

}  // namespace

TEST_F(SgModuleTest, EveryCommandOfASessionGoesThroughSgIoTheRightWay) {
    SimSetCompletion(SIM_PENDING, 0);
    tarnscsi::ConnectError error = tarnscsi::ConnectError::kNone;
    auto camera = tarnscsi::Camera::Open(error);
    ASSERT_TRUE(camera) << tarnscsi::ConnectErrorText(error);
    EXPECT_EQ(camera->Adapter(), 2);
    EXPECT_EQ(camera->Target(), 2);

    ASSERT_TRUE(camera->SetTemperature(-150));
    ASSERT_TRUE(camera->ReadCooling());
    tarnscsi::ExposureSettings window{};
    window.exposureTime = 10;
    window.width = 64;
    window.height = 32;
    window.originX = 100;
    window.originY = 40;
    ASSERT_TRUE(camera->Expose(window));
    ASSERT_TRUE(camera->Ready()) << "at time scale 0 the camera is ready at once";
    std::vector<std::uint8_t> image(tarnscsi::ImageBytes(window));
    ASSERT_TRUE(camera->Download(image));
    std::vector<std::uint8_t> sent(SimLastImage(nullptr, 0));
    SimLastImage(sent.data(), static_cast<std::uint32_t>(sent.size()));
    EXPECT_EQ(image, sent);

    // The direction each of the module's commands must travel in.
    const std::map<std::uint8_t, int> directions = {
        {0x00, SG_DXFER_NONE},   {0x12, SG_DXFER_FROM_DEV}, {0x15, SG_DXFER_TO_DEV},   {0x1A, SG_DXFER_FROM_DEV},
        {0x1B, SG_DXFER_TO_DEV}, {0x24, SG_DXFER_TO_DEV},   {0x25, SG_DXFER_FROM_DEV}, {0x28, SG_DXFER_FROM_DEV},
    };
    std::map<std::uint8_t, int> seen;
    for (const SgFakeIo& io : CarriedRequests()) {
        SCOPED_TRACE("opcode " + std::to_string(io.cdb[0]));
        EXPECT_STREQ(io.node, "/dev/sg2") << "a command went somewhere else than the camera";
        ASSERT_TRUE(directions.count(io.cdb[0]));
        EXPECT_EQ(io.direction, directions.at(io.cdb[0]));
        EXPECT_EQ(io.timeout, kTimeLimitFromEnvironment);
        ++seen[io.cdb[0]];
    }
    EXPECT_EQ(seen.size(), directions.size()) << "not every command of the session was carried";
}

// The scanner at adapter 0 target 5 reports its type but cannot be opened:
// the module's INQUIRY there fails without reaching the kernel, and the
// search goes on to the camera. The manager says why.
TEST_F(SgModuleTest, SearchPassesAnUnopenableScannerAndTheReportSaysWhy) {
    tarnscsi::ConnectError error = tarnscsi::ConnectError::kNone;
    auto camera = tarnscsi::Camera::Open(error);
    ASSERT_TRUE(camera) << tarnscsi::ConnectErrorText(error);
    for (const SgFakeIo& io : CarriedRequests()) {
        EXPECT_STRNE(io.node, "/dev/sg1");
    }
    const std::string report = Diagnostics();
    EXPECT_NE(report.find("adapter 2 = host 2, channel 1\n"), std::string::npos) << report;
    EXPECT_NE(report.find("/dev/sg1 [0:0:5:0] adapter 0, target 5, lun 0: cannot open: Permission denied\n"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("/dev/sg2 [2:1:2:0] adapter 2, target 2, lun 0: usable\n"), std::string::npos) << report;
    EXPECT_NE(report.find("command time limit: 45 s (TARNSCSI_SG_TIMEOUT)\n"), std::string::npos) << report;
}

// A camera that ends commands with CHECK CONDITION while it exposes: not
// ready, and a download that fails at its first read, exactly as on the
// simulator's own manager.
TEST_F(SgModuleTest, CheckConditionFromTheCameraFailsTheOperation) {
    SimSetManualClock(1);
    tarnscsi::ConnectError error = tarnscsi::ConnectError::kNone;
    auto camera = tarnscsi::Camera::Open(error);
    ASSERT_TRUE(camera) << tarnscsi::ConnectErrorText(error);
    tarnscsi::ExposureSettings window{};
    window.exposureTime = 60000;
    window.width = 16;
    window.height = 16;
    ASSERT_TRUE(camera->Expose(window));
    EXPECT_FALSE(camera->Ready());
    std::vector<std::uint8_t> image(tarnscsi::ImageBytes(window));
    const auto result = camera->Download(image);
    EXPECT_EQ(result.status, tarnscsi::DownloadStatus::kReadFailed) << result.message;
    // The sense comes back through the SCSI generic driver, decoded.
    EXPECT_EQ(result.command.CommandName(), "READ(10)");
    EXPECT_EQ(result.command.sense.Describe(), "NOT READY, logical unit is in process of becoming ready (2/04/01)")
        << result.message;
}
