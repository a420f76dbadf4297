// A camera answers the first command after a reset or power-on with UNIT
// ATTENTION and does not carry it out. The C++ API sends such an operation
// once more where that is safe, reports a second report in a row, never
// sends a download again, and refuses to download an exposure a reset took.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <tarnscsi/camera.h>
#include <tarnscsi/trace.h>

#include "sim_control.h"
#include "support/bus_log.h"

using namespace tarnscsi::testing_support;
using tarnscsi::Camera;
using tarnscsi::CommandResult;
using tarnscsi::ConnectError;
using tarnscsi::DownloadStatus;
using tarnscsi::ExposeResult;
using tarnscsi::OperationResult;
using tarnscsi::ReadyResult;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kTestUnitReady = 0x00;
constexpr std::uint8_t kInquiry = 0x12;
constexpr std::uint8_t kModeSelect = 0x15;
constexpr std::uint8_t kModeSense = 0x1A;
constexpr std::uint8_t kScan = 0x1B;
constexpr std::uint8_t kSetWindow = 0x24;
constexpr std::uint8_t kGetWindow = 0x25;
constexpr std::uint8_t kRead = 0x28;
constexpr std::uint8_t kCheckCondition = 0x02;
constexpr std::uint8_t kUnitAttention = 0x6;
constexpr std::uint8_t kPowerOnOrReset = 0x29;

// 64 x 32 unbinned pixels: 4096 bytes, two reads of 2048.
const tarnscsi::ExposureSettings kWindow{0, 8, 4, 64, 32, 0, 0};
constexpr std::size_t kImageBytes = 64 * 32 * 2;
constexpr std::uint32_t kReadLength = 2048;
constexpr std::uint8_t kUntouched = 0xA5;

// The camera is reset: it answers its next `reports` commands (INQUIRY
// excepted) with UNIT ATTENTION, and forgets its window and exposure.
void ResetCamera(int reports) { ASSERT_EQ(SimConfigure(("unit-attention=" + std::to_string(reports)).c_str()), 0); }

Bytes Opcodes(const std::vector<SimRequest>& requests) {
    Bytes opcodes;
    for (const SimRequest& request : requests) opcodes.push_back(request.cdb[0]);
    return opcodes;
}

Bytes CameraImage() {
    Bytes image(SimLastImage(nullptr, 0));
    SimLastImage(image.data(), static_cast<std::uint32_t>(image.size()));
    return image;
}

bool AllUntouched(const Bytes& bytes, std::size_t from = 0) {
    return std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end(),
                       [](std::uint8_t b) { return b == kUntouched; });
}

// The operations the API sends again, each with the commands of one run and
// the command bytes of its first; each run gives its result with the
// command that decided.
struct Operation {
    const char* name;
    std::function<OperationResult(Camera&)> run;
    Bytes opcodes;
    Bytes firstCdb;
};

const Operation kRetried[] = {
    {"Ready",
     [](Camera& c) -> OperationResult { return c.Ready(); },
     {kTestUnitReady},
     {0x00, 0x00, 0x00, 0x00, 0x90, 0x00}},
    {"SetTemperature",
     [](Camera& c) { return c.SetTemperature(-100); },
     {kModeSelect},
     {0x15, 0x10, 0x00, 0x00, 0x90, 0x00}},
    {"ReadCooling",
     [](Camera& c) -> OperationResult { return c.ReadCooling(); },
     {kModeSense},
     {0x1A, 0x08, 0x09, 0x00, 0x90, 0x00}},
    {"Expose",
     [](Camera& c) -> OperationResult { return c.Expose(kWindow); },
     {kSetWindow, kScan},
     {0x24, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x4E, 0x00}},
};

class UnitAttentionTest : public ::testing::Test {
protected:
    void SetUp() override {
        SimReset();
        ConnectError error = ConnectError::kNone;
        camera = Camera::Open(error);
        ASSERT_TRUE(camera) << tarnscsi::ConnectErrorText(error);
        SimLogClear();
    }
    void TearDown() override {
        tarnscsi::StopTrace();
        camera.reset();
        SimReset();
    }

    // Exposes kWindow and downloads it, expecting the camera's exact image.
    void ExpectGoodFrame() {
        ASSERT_TRUE(camera->Expose(kWindow));
        Bytes image(kImageBytes);
        const auto result = camera->Download(image);
        ASSERT_EQ(result.status, DownloadStatus::kOk) << result.message;
        EXPECT_EQ(image, CameraImage());
    }

    std::unique_ptr<Camera> camera;
};

}  // namespace

TEST_F(UnitAttentionTest, AfterAResetEachSafeOperationIsSentOnceMoreAlike) {
    for (const Operation& operation : kRetried) {
        SCOPED_TRACE(operation.name);
        ResetCamera(1);
        SimLogClear();
        const OperationResult result = operation.run(*camera);
        EXPECT_TRUE(result) << result.command.Describe();
        EXPECT_TRUE(result.command.Ok());

        const auto sent = ExecRequests();
        Bytes expected{operation.opcodes[0]};
        expected.insert(expected.end(), operation.opcodes.begin(), operation.opcodes.end());
        ASSERT_EQ(Opcodes(sent), expected);
        EXPECT_EQ(sent[0].targetStatus, kCheckCondition);
        // The repeat is the very same command: bytes, direction, length and data.
        EXPECT_EQ(Cdb(sent[0]), operation.firstCdb);
        EXPECT_EQ(Cdb(sent[1]), operation.firstCdb);
        EXPECT_EQ(sent[1].flags, sent[0].flags);
        EXPECT_EQ(sent[1].bufferLength, sent[0].bufferLength);
        EXPECT_EQ(DataOut(sent[1]), DataOut(sent[0]));
    }
    // The exposure began after the reset: it downloads.
    Bytes image(kImageBytes);
    EXPECT_TRUE(camera->Download(image));
    EXPECT_EQ(image, CameraImage());
}

TEST_F(UnitAttentionTest, TwoReportsInARowAreToldAndNotSentAThirdTime) {
    for (const Operation& operation : kRetried) {
        SCOPED_TRACE(operation.name);
        ResetCamera(2);
        SimLogClear();
        const OperationResult failed = operation.run(*camera);
        EXPECT_FALSE(failed);
        EXPECT_EQ(Opcodes(ExecRequests()), Bytes(2, operation.opcodes[0]));
        const CommandResult& result = failed.command;
        ASSERT_TRUE(result.sense.valid);
        EXPECT_EQ(result.sense.key, kUnitAttention);
        EXPECT_EQ(result.sense.asc, kPowerOnOrReset);
        EXPECT_NE(result.Describe().find("UNIT ATTENTION"), std::string::npos) << result.Describe();
        EXPECT_NE(result.Advice().find("reset"), std::string::npos) << result.Advice();

        SimLogClear();
        EXPECT_TRUE(operation.run(*camera)) << "the camera has told all it had";
        EXPECT_EQ(Opcodes(ExecRequests()), operation.opcodes);
    }
}

TEST_F(UnitAttentionTest, AScanAnsweredSoIsSentAgainAfterItsWindow) {
    SimAddFault(kScan, 0, 1, SIM_FAULT_UNIT_ATTENTION);
    const ExposeResult exposed = camera->Expose(kWindow);
    ASSERT_TRUE(exposed);
    const auto sent = ExecRequests();
    ASSERT_EQ(Opcodes(sent), (Bytes{kSetWindow, kScan, kSetWindow, kScan}));
    EXPECT_EQ(DataOut(sent[2]), DataOut(sent[0]));
    EXPECT_TRUE(exposed.scan.Ok()) << exposed.scan.Describe();
    Bytes image(kImageBytes);
    EXPECT_TRUE(camera->Download(image));
    EXPECT_EQ(image, CameraImage());

    // Told twice, SCAN is not sent a third time, and the exposure is lost:
    // Download sends nothing, whatever the camera might still hold.
    SimAddFault(kScan, 0, 2, SIM_FAULT_UNIT_ATTENTION);
    SimLogClear();
    const ExposeResult twice = camera->Expose(kWindow);
    EXPECT_TRUE(twice) << "the window was taken";
    EXPECT_EQ(twice.scan.sense.key, kUnitAttention);
    EXPECT_EQ(Opcodes(ExecRequests()), (Bytes{kSetWindow, kScan, kSetWindow, kScan}));
    SimLogClear();
    EXPECT_EQ(camera->Download(image).status, DownloadStatus::kExposureLost);
    EXPECT_TRUE(ExecRequests().empty());
    ExpectGoodFrame();

    // INQUIRY never reports a reset on a real camera, but one that did
    // would be asked again too.
    SimAddFault(kInquiry, 0, 1, SIM_FAULT_UNIT_ATTENTION);
    SimLogClear();
    EXPECT_FALSE(camera->Identity().product.empty());
    EXPECT_EQ(Opcodes(ExecRequests()), Bytes(2, kInquiry));
}

TEST_F(UnitAttentionTest, AResetDuringTheExposureIsToldByDownloadWhichReadsNothing) {
    ASSERT_TRUE(camera->Expose(kWindow));
    ResetCamera(1);
    SimLogClear();
    EXPECT_TRUE(camera->Ready()) << "answered once more: the camera is idle after its reset";
    EXPECT_EQ(Opcodes(ExecRequests()), Bytes(2, kTestUnitReady));

    SimLogClear();
    Bytes image(kImageBytes, kUntouched);
    const auto lost = camera->Download(image);
    EXPECT_EQ(lost.status, DownloadStatus::kExposureLost);
    EXPECT_FALSE(lost);
    EXPECT_EQ(lost.command.Opcode(), kTestUnitReady) << "the command that told of the reset";
    EXPECT_NE(lost.message.find("reset"), std::string::npos) << lost.message;
    EXPECT_NE(lost.message.find("TEST UNIT READY: CHECK CONDITION, sense UNIT ATTENTION"), std::string::npos)
        << lost.message;
    EXPECT_TRUE(ExecRequests().empty());
    EXPECT_TRUE(AllUntouched(image));

    ExpectGoodFrame();
}

TEST_F(UnitAttentionTest, ADownloadIsNeverSentAgain) {
    // Reported to GET WINDOW: the window the camera would give is its
    // default, not the exposure's.
    ASSERT_TRUE(camera->Expose(kWindow));
    ResetCamera(1);
    SimLogClear();
    Bytes image(kImageBytes, kUntouched);
    const auto unreadable = camera->Download(image);
    EXPECT_EQ(unreadable.status, DownloadStatus::kWindowUnreadable);
    EXPECT_EQ(Opcodes(ExecRequests()), Bytes{kGetWindow});
    EXPECT_TRUE(AllUntouched(image));
    SimLogClear();
    EXPECT_EQ(camera->Download(image).status, DownloadStatus::kExposureLost);
    EXPECT_TRUE(ExecRequests().empty());

    // Reported to the second read: the reads carry no address, so sending
    // it again could only give other bytes than the ones missed.
    ASSERT_TRUE(camera->Expose(kWindow));
    SimAddFault(kRead, 1, 1, SIM_FAULT_UNIT_ATTENTION);
    SimLogClear();
    std::fill(image.begin(), image.end(), kUntouched);
    const auto cut = camera->Download(image);
    EXPECT_EQ(cut.status, DownloadStatus::kReadFailed);
    EXPECT_EQ(Opcodes(ExecRequests()), (Bytes{kGetWindow, kRead, kRead}));
    EXPECT_EQ(cut.received, kReadLength);
    const Bytes whole = CameraImage();
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + kReadLength, whole.begin()));
    EXPECT_TRUE(AllUntouched(image, kReadLength));
    SimLogClear();
    EXPECT_EQ(camera->Download(image).status, DownloadStatus::kExposureLost);
    EXPECT_TRUE(ExecRequests().empty());

    ExpectGoodFrame();
}

TEST_F(UnitAttentionTest, TheTraceShowsBothAttempts) {
    std::vector<std::string> lines;
    tarnscsi::SetTraceSink([&lines](const std::string& line) { lines.push_back(line); });
    ResetCamera(1);
    ASSERT_TRUE(camera->ReadCooling());
    tarnscsi::StopTrace();
    ASSERT_EQ(lines.size(), 2u);
    const std::string command = "MODE SENSE(6) 0:2 [1A 08 09 00 90 00] in 144: ";
    EXPECT_EQ(lines[0].rfind(command + "failed", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("sense UNIT ATTENTION, power on, reset, or bus device reset occurred (6/29/00)"),
              std::string::npos)
        << lines[0];
    EXPECT_EQ(lines[1].rfind(command + "completed", 0), 0u) << lines[1];
}
