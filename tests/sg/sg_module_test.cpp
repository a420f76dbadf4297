// The module's camera session through the SCSI generic manager on the fake
// kernel: what reaches SG_IO for each of the module's commands, how the
// search crosses adapters and an unopenable scanner, and what the manager
// reports. (The full session with its image check is the module's own
// typical exposure test, built a second time against this manager.)
#include <gtest/gtest.h>
#include <scsi/sg.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <tarnscsi/bus.h>
#include <tarnscsi/camera.h>
#include "fake_manager/sg_fake_control.h"
#include "aspi.h"
#include "sg/sg_exports.h"
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

// The manager's records, asked for as a program does (fewer than there
// are, then all), and what the library's bus scan makes of them: the same
// nodes, each where its report line puts it, the unopenable scanner with
// its reason.
TEST_F(SgModuleTest, TheScanShowsTheManagersRecordsAsTheReportTellsThem) {
    constexpr std::uint32_t kDevices = 4;
    SgDeviceRecord sentinel{};
    sentinel.node[0] = 'X';
    std::vector<SgDeviceRecord> few(3, sentinel);
    ASSERT_EQ(SgDeviceRecords(few.data(), 2), kDevices);
    EXPECT_STREQ(few[0].node, "/dev/sg0");
    EXPECT_STREQ(few[1].node, "/dev/sg1");
    EXPECT_STREQ(few[2].node, "X") << "written beyond the capacity given";
    EXPECT_EQ(SgDeviceRecords(nullptr, kDevices), kDevices);

    const tarnscsi::BusScan scan = tarnscsi::ScanBus();
    ASSERT_TRUE(scan.loaded);
    ASSERT_TRUE(scan.report);
    std::vector<SgDeviceRecord> all(kDevices);
    ASSERT_EQ(SgDeviceRecords(all.data(), kDevices), kDevices);
    ASSERT_EQ(scan.nodes.size(), kDevices);
    for (std::uint32_t i = 0; i < kDevices; ++i) {
        const SgDeviceRecord& record = all[i];
        const tarnscsi::ManagerNode& node = scan.nodes[i];
        SCOPED_TRACE(record.node);
        EXPECT_EQ(node.node, record.node);
        EXPECT_EQ(node.host, record.host);
        EXPECT_EQ(node.channel, record.channel);
        EXPECT_EQ(node.scsiTarget, record.target);
        EXPECT_EQ(node.lun, record.lun);
        EXPECT_EQ(node.adapter, record.adapter);
        EXPECT_EQ(node.target, record.aspiTarget);
        EXPECT_EQ(node.aspiLun, record.aspiLun);
        EXPECT_EQ(node.type, record.type);
        EXPECT_EQ(node.usable, record.usable != 0);
        EXPECT_EQ(node.reason, record.reason);
        EXPECT_EQ(node.lastError, record.lastError);
        // The same device, the same words, in the report.
        const std::string line = node.node + " [" + std::to_string(*node.host) + ":" + std::to_string(*node.channel) +
                                 ":" + std::to_string(*node.scsiTarget) + ":" + std::to_string(*node.lun) +
                                 "] adapter " + std::to_string(*node.adapter) + ", target " +
                                 std::to_string(*node.target) + ", lun " + std::to_string(*node.aspiLun) + ": " +
                                 (node.usable ? std::string("usable") : node.reason);
        EXPECT_NE(std::find(scan.report->begin(), scan.report->end(), line), scan.report->end()) << line;
    }

    const tarnscsi::ManagerNode* scanner = scan.NodeAt(0, 5);
    ASSERT_NE(scanner, nullptr);
    EXPECT_EQ(scanner->node, "/dev/sg1");
    EXPECT_FALSE(scanner->usable);
    EXPECT_EQ(scanner->reason, "cannot open: Permission denied");
    EXPECT_EQ(scanner->type, 6);
    const tarnscsi::ManagerNode* camera = scan.NodeAt(2, 2);
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(camera->node, "/dev/sg2");
    EXPECT_EQ(camera->host, 2u);
    EXPECT_EQ(camera->channel, 1u);
    EXPECT_TRUE(camera->usable);
    EXPECT_EQ(camera->reason, "");
    ASSERT_NE(scan.Camera(), nullptr);
    EXPECT_EQ(scan.NodeAt(scan.Camera()->adapter, scan.Camera()->target), camera);
    EXPECT_EQ(scan.NodeAt(0, 1), nullptr);
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

// Data that reach SG_IO short (the kernel's residual) and do not hold every
// byte the module reads fail the command that asked for them, with the
// count asked in the C++ API's explanation and the count that arrived in the
// manager's report: no cooling reading, window or image passes on part of
// its bytes.
TEST_F(SgModuleTest, DataThatArriveShortFailTheirCommandAndTheReportCountsThem) {
    // An INQUIRY answer of 24 bytes carries the product name compared.
    std::vector<std::uint8_t> inquiry(24, ' ');
    inquiry[0] = 6;
    const std::string product = "Nebrix";
    std::copy(product.begin(), product.end(), inquiry.begin() + 16);
    SimScriptReply(0x12, inquiry.data(), static_cast<std::uint32_t>(inquiry.size()), 1);
    tarnscsi::ConnectError error = tarnscsi::ConnectError::kNone;
    auto camera = tarnscsi::Camera::Open(error);
    ASSERT_TRUE(camera) << tarnscsi::ConnectErrorText(error);
    const std::vector<std::uint8_t> reply(200, 0x11);
    SimScriptReply(0x1A, reply.data(), 10, 1);  // MODE SENSE
    const tarnscsi::CoolingResult read = camera->ReadCooling();
    EXPECT_FALSE(read);
    EXPECT_EQ(read.command.hostStatus, tarnscsi::aspi::HASTAT_DO_DU);
    EXPECT_NE(read.command.Explained().find(
                  "MODE SENSE(6): host adapter: data overrun or underrun (the transfer ended without moving the 144 "
                  "bytes asked for"),
              std::string::npos)
        << read.command.Explained();
    EXPECT_NE(Diagnostics().find("/dev/sg2 [2:1:2:0] adapter 2, target 2, lun 0: usable; last command failed: data "
                                 "underrun: command 0x1A moved 10 of 144 bytes\n"),
              std::string::npos)
        << Diagnostics();

    tarnscsi::ExposureSettings window{};
    window.width = 64;
    window.height = 32;
    std::vector<std::uint8_t> image(tarnscsi::ImageBytes(window));
    struct Case {
        std::uint8_t opcode;
        std::uint32_t length;
        tarnscsi::DownloadStatus status;
        const char* report;
    };
    const Case cases[] = {
        {0x25, 47, tarnscsi::DownloadStatus::kWindowUnreadable, "command 0x25 moved 47 of 78 bytes"},
        {0x28, 200, tarnscsi::DownloadStatus::kReadFailed, "command 0x28 moved 200 of 2048 bytes"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(camera->Expose(window));
        SimScriptReply(c.opcode, reply.data(), c.length, 1);
        const tarnscsi::DownloadResult result = camera->Download(image);
        EXPECT_EQ(result.status, c.status) << result.message;
        EXPECT_NE(result.message.find("data overrun or underrun"), std::string::npos) << result.message;
        EXPECT_NE(Diagnostics().find(c.report), std::string::npos) << Diagnostics();
    }
}
