// The C++ camera API: the same operations, the buffer-capacity guard that
// the exports cannot have, and typed results that say which command failed
// and what the manager and the camera said.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include <tarnscsi/bus.h>
#include <tarnscsi/camera.h>

#include "sim_control.h"
#include "support/bus_log.h"

using namespace tarnscsi::testing_support;
using tarnscsi::Camera;
using tarnscsi::CommandOutcome;
using tarnscsi::CommandResult;
using tarnscsi::ConnectError;
using tarnscsi::CoolingResult;
using tarnscsi::DownloadStatus;
using tarnscsi::ExposeResult;
using tarnscsi::OperationResult;
using tarnscsi::ReadyResult;

class CameraApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        SimReset();
        ConnectError error = ConnectError::kNone;
        camera = Camera::Open(error);
        ASSERT_TRUE(camera) << tarnscsi::ConnectErrorText(error);
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
    ConnectError error = ConnectError::kNone;
    EXPECT_FALSE(Camera::Open(error));
    EXPECT_EQ(error, ConnectError::kCameraNotFound);
    EXPECT_STREQ(tarnscsi::ConnectErrorText(error), "Camera not found");

    // The camera is there but never answers INQUIRY: the failure names it.
    SimReset();
    camera.reset();
    SimAddFault(0x12, 0, 1, SIM_FAULT_COMMAND_TIMEOUT);
    std::string detail;
    EXPECT_FALSE(Camera::Open(error, detail));
    EXPECT_EQ(error, ConnectError::kCameraNotFound);
    EXPECT_EQ(detail.rfind("the device at adapter " + std::to_string(SIM_DEFAULT_ADAPTER) + ", target " +
                               std::to_string(SIM_DEFAULT_TARGET) + " did not answer INQUIRY within the time limit",
                           0),
              0u)
        << detail;
}

// A manager may answer a device's type with INQUIRY's whole first byte,
// the peripheral qualifier in its top bits. The search and the scan read it
// alike: a vendor-specific qualifier leaves the camera a camera, "not
// connected" and "no device" leave nothing at the address.
TEST_F(CameraApiTest, TheSearchTakesOnlyAPlainScannerAndTheScanListsWhatIsThere) {
    // The search asks only targets whose device-type byte is 6 as a whole;
    // the scan lists every device present by its qualifier and marks as the
    // camera only what the search would take.
    camera.reset();
    SimClearBus(1);
    const auto add = [](int target, std::uint8_t firstByte) {
        const auto inquiry = InquiryData(firstByte, "Nebrix");
        ASSERT_EQ(SimAddDevice(0, target, 0, firstByte, inquiry.data(), static_cast<std::uint32_t>(inquiry.size())), 0);
    };
    add(1, 0x26);  // a scanner, not connected
    add(2, 0x7F);  // no device can be here
    add(4, 0x86);  // a scanner with a vendor-specific qualifier
    SimLogClear();
    ConnectError error = ConnectError::kNone;
    EXPECT_FALSE(Camera::Open(error));
    EXPECT_EQ(error, ConnectError::kCameraNotFound);
    EXPECT_TRUE(ExecRequests(0x12).empty());

    add(5, 0x06);
    camera = Camera::Open(error);
    ASSERT_TRUE(camera) << tarnscsi::ConnectErrorText(error);
    EXPECT_EQ(camera->Target(), 5);

    camera.reset();
    const tarnscsi::BusScan scan = tarnscsi::ScanBus();
    ASSERT_EQ(scan.devices.size(), 2u);
    EXPECT_EQ(scan.devices[0].target, 4);
    EXPECT_EQ(scan.devices[0].type, 6);
    EXPECT_FALSE(scan.devices[0].camera);
    EXPECT_EQ(scan.devices[1].target, 5);
    EXPECT_TRUE(scan.devices[1].camera);
}

TEST_F(CameraApiTest, ASecondConnectionToTheCameraIsRefusedNamingTheHolder) {
    // One process holds the camera once: a second Open is another program
    // as far as the camera is concerned, and is told who has it.
    ConnectError error = ConnectError::kNone;
    std::string detail = "stale";
    SimLogClear();
    EXPECT_FALSE(Camera::Open(error, detail));
    EXPECT_EQ(error, ConnectError::kCameraInUse);
    const std::string expected = "camera at adapter " + std::to_string(SIM_DEFAULT_ADAPTER) + ", target " +
                                 std::to_string(SIM_DEFAULT_TARGET) + " is in use by ";
    EXPECT_EQ(detail.rfind(expected, 0), 0u) << detail;
    EXPECT_NE(detail.find(", PID "), std::string::npos) << detail;
    EXPECT_TRUE(ExecRequests().empty()) << "the second connection sent a command to the camera";

    // The first lets go: the next Open succeeds and says nothing more.
    camera.reset();
    auto again = Camera::Open(error, detail);
    ASSERT_TRUE(again);
    EXPECT_EQ(error, ConnectError::kNone);
    EXPECT_EQ(detail, "");
}

TEST_F(CameraApiTest, TellsWhoTheCameraIsAndThroughWhichManager) {
    SimLogClear();
    const tarnscsi::CameraIdentity identity = camera->Identity();
    EXPECT_EQ(identity.product.rfind(tarnscsi::CameraModel(), 0), 0u) << identity.product;
    EXPECT_FALSE(identity.vendor.empty());
    EXPECT_FALSE(identity.revision.empty());
    EXPECT_EQ(identity.adapter, SIM_DEFAULT_ADAPTER);
    EXPECT_EQ(identity.target, SIM_DEFAULT_TARGET);
    std::string file = identity.managerPath.substr(identity.managerPath.find_last_of("/\\") + 1);
    std::transform(file.begin(), file.end(), file.begin(), [](unsigned char c) { return std::tolower(c); });
#if defined(_WIN32)
    EXPECT_EQ(file, "wnaspi32.dll") << identity.managerPath;
#else
    EXPECT_EQ(file, "libwnaspi32.so") << identity.managerPath;
#endif
    const auto sent = ExecRequests();
    ASSERT_EQ(sent.size(), 1u);  // one standard INQUIRY, to the camera
    EXPECT_EQ(Cdb(sent[0]), (std::vector<std::uint8_t>{0x12, 0x00, 0x00, 0x00, 0x24, 0x00}));
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
    const auto unreadable = camera->Download(image);
    EXPECT_EQ(unreadable.status, DownloadStatus::kWindowUnreadable);
    EXPECT_EQ(unreadable.command.Opcode(), 0x25);
    EXPECT_NE(unreadable.message.find("GET WINDOW: CHECK CONDITION, sense ABORTED COMMAND"), std::string::npos)
        << unreadable.message;

    SimAddFault(0x28, 3, 1, SIM_FAULT_CHECK_CONDITION);
    const auto failed = camera->Download(image);
    EXPECT_EQ(failed.status, DownloadStatus::kReadFailed);
    EXPECT_EQ(failed.command.Opcode(), 0x28);
    EXPECT_EQ(failed.received, 3u * 2048);
    EXPECT_NE(failed.message.find("after 6144 of 786432 bytes: READ(10): CHECK CONDITION"), std::string::npos)
        << failed.message;
}

// The progress is asked before each read with the bytes in so far; false
// stops the download there, with nothing more sent.
TEST_F(CameraApiTest, ADownloadsProgressIsAskedBeforeEachReadAndMayStopIt) {
    ASSERT_TRUE(camera->Expose({0, 0, 0, 768, 512, 0, 0}));
    std::vector<std::uint8_t> image(768 * 512 * 2);
    SimLogClear();
    std::vector<std::uint64_t> told;
    const auto stopped = camera->Download(image, [&told](std::uint64_t received, std::uint64_t total) {
        EXPECT_EQ(total, 786432u);
        told.push_back(received);
        return received < 3 * 2048;
    });
    EXPECT_EQ(stopped.status, DownloadStatus::kStopped);
    EXPECT_EQ(stopped.received, 3u * 2048);
    EXPECT_EQ(told, (std::vector<std::uint64_t>{0, 2048, 4096, 6144}));
    EXPECT_EQ(ExecRequests(0x28).size(), 3u);
}

// Each way a command can fail reaches the typed result with the command,
// the three statuses and the decoded sense.
TEST_F(CameraApiTest, ARequestRefusedAtOnceIsTold) {
    SimSetCompletion(SIM_PENDING, 100);
    SimAddFault(0x1A, 0, 1, SIM_FAULT_REFUSE);
    const CoolingResult read = camera->ReadCooling();
    EXPECT_FALSE(read);
    const CommandResult& result = read.command;
    EXPECT_EQ(result.CommandName(), "MODE SENSE(6)");
    EXPECT_TRUE(result.sent);
    EXPECT_FALSE(result.pending);
    EXPECT_EQ(result.returned, 0x04);
    EXPECT_EQ(result.srbStatus, 0x04);
    EXPECT_EQ(result.Outcome(), CommandOutcome::kRefused);
    EXPECT_FALSE(result.sense.valid);
    EXPECT_EQ(result.Describe(),
              "MODE SENSE(6): refused by the ASPI manager; request status 0x04 (error), host adapter status 0x00, "
              "target status 0x00");
    EXPECT_FALSE(result.Advice().empty());
}

TEST_F(CameraApiTest, ASetpointThePageCannotHoldIsRefusedUnsentNamingNoCommand) {
    ASSERT_TRUE(camera->Ready());
    SimLogClear();
    const auto refused = camera->SetTemperature(40000);
    EXPECT_FALSE(refused);
    EXPECT_EQ(refused.command.CommandName(), "no command") << "not the TEST UNIT READY before it";
    EXPECT_NE(refused.refusal.find("setpoint of 40000 tenths"), std::string::npos) << refused.refusal;
    EXPECT_TRUE(ExecRequests().empty());
    EXPECT_TRUE(camera->SetTemperature(-100).refusal.empty());
}

TEST_F(CameraApiTest, ACheckConditionAfterAWaitCarriesTheSense) {
    SimSetCompletion(SIM_PENDING, 100);
    SimAddFault(0x15, 0, 1, SIM_FAULT_CHECK_CONDITION);
    const OperationResult written = camera->SetTemperature(-100);
    EXPECT_FALSE(written);
    const CommandResult& result = written.command;
    EXPECT_EQ(result.CommandName(), "MODE SELECT(6)");
    EXPECT_TRUE(result.pending);
    EXPECT_EQ(result.returned, 0x00);
    EXPECT_EQ(result.srbStatus, 0x04);
    EXPECT_EQ(result.targetStatus, 0x02);
    EXPECT_EQ(result.Outcome(), CommandOutcome::kCheckCondition);
    ASSERT_TRUE(result.sense.valid);
    EXPECT_EQ(result.sense.key, 0x0B);
    EXPECT_EQ(result.sense.Describe(), "ABORTED COMMAND, no additional sense information (B/00/00)");
}

TEST_F(CameraApiTest, TheCamerasOwnSenseIsDecodedInWords) {
    // While the exposure runs the camera is not ready, and says why.
    SimSetManualClock(1);
    ASSERT_TRUE(camera->Expose({5000, 0, 0, 768, 512, 0, 0}));
    const ReadyResult ready = camera->Ready();
    EXPECT_FALSE(ready);
    EXPECT_TRUE(ready.Busy()) << "NOT READY while exposing: worth waiting for";
    const auto& result = ready.command;
    EXPECT_EQ(result.CommandName(), "TEST UNIT READY");
    EXPECT_EQ(result.Outcome(), CommandOutcome::kCheckCondition);
    ASSERT_TRUE(result.sense.valid);
    EXPECT_EQ(result.sense.Describe(), "NOT READY, logical unit is in process of becoming ready (2/04/01)");
    EXPECT_NE(result.Advice().find("not ready"), std::string::npos);
}

TEST_F(CameraApiTest, AnEmptyAddressIsAHostAdapterSelectionTimeout) {
    SimClearBus(1);
    SimAddCamera(0, 3, 0);
    ConnectError error = ConnectError::kNone;
    auto moved = Camera::Open(error);
    ASSERT_TRUE(moved);
    // The camera goes away under the open connection.
    SimClearBus(1);
    const ReadyResult ready = moved->Ready();
    EXPECT_FALSE(ready);
    EXPECT_FALSE(ready.Busy()) << "a camera gone from the bus is not busy: waiting does not help";
    const auto& result = ready.command;
    EXPECT_EQ(result.target, 3);
    EXPECT_EQ(result.Outcome(), CommandOutcome::kHostAdapter) << result.Describe();
    EXPECT_EQ(result.hostStatus, 0x11);
    EXPECT_NE(result.Describe().find("selection timeout"), std::string::npos) << result.Describe();
    EXPECT_NE(result.Advice().find("does not answer"), std::string::npos);
}

TEST_F(CameraApiTest, ARefusedScanIsKeptApartFromTheWindow) {
    SimAddFault(0x1B, 0, 1, SIM_FAULT_CHECK_CONDITION);
    const ExposeResult refused = camera->Expose({0, 0, 0, 64, 64, 0, 0});
    EXPECT_TRUE(refused);
    EXPECT_EQ(refused.command.CommandName(), "SET WINDOW");
    EXPECT_TRUE(refused.command.Ok());
    EXPECT_EQ(refused.scan.CommandName(), "SCAN");
    EXPECT_EQ(refused.scan.Outcome(), CommandOutcome::kCheckCondition);
    EXPECT_TRUE(camera->Expose({0, 0, 0, 64, 64, 0, 0}).scan.Ok());
}

TEST_F(CameraApiTest, CoolingReadingsAndReadiness) {
    ASSERT_TRUE(camera->SetTemperature(-50));
    const CoolingResult read = camera->ReadCooling();
    ASSERT_TRUE(read);
    EXPECT_EQ(read.reading.temperature, -50);
    EXPECT_TRUE(camera->Ready());
    SimAddFault(0x1A, 0, 1, SIM_FAULT_REFUSE);
    EXPECT_FALSE(camera->ReadCooling());
}
