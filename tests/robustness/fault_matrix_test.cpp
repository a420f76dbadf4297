// Every command of a typical exposure made to fail, in each way a manager or
// camera can fail it: refused at once (with immediate completion, and while
// the manager otherwise completes later), ended with CHECK CONDITION at
// once, failed after SS_PENDING, and answered with UNIT ATTENTION as after a
// reset (which the exports report like any failure, without a retry). Each
// case checks what the export that sent the command reports, that nothing
// more went out than should, and that the whole session works again
// afterwards, on the same connection and on a new one.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "support/module_fixture.h"

using namespace tarnscsi::testing_support;

namespace {

using Bytes = std::vector<std::uint8_t>;

// SCSI operation codes of the camera's commands.
constexpr std::uint8_t kTestUnitReady = 0x00;
constexpr std::uint8_t kInquiry = 0x12;
constexpr std::uint8_t kModeSelect = 0x15;
constexpr std::uint8_t kModeSense = 0x1A;
constexpr std::uint8_t kScan = 0x1B;
constexpr std::uint8_t kSetWindow = 0x24;
constexpr std::uint8_t kGetWindow = 0x25;
constexpr std::uint8_t kRead = 0x28;

// A window of 200 x 100 unbinned pixels: 40000 bytes, 19 reads of 2048 bytes
// and a last one of 1088, so that a failing read can be first, in the
// middle or last.
constexpr int32_t kWidth = 200;
constexpr int32_t kHeight = 100;
constexpr int32_t kOriginX = 64;
constexpr int32_t kOriginY = 32;
constexpr std::uint32_t kReadLength = 2048;
constexpr std::uint32_t kImageBytes = kWidth * kHeight * 2;
constexpr std::uint32_t kReads = (kImageBytes + kReadLength - 1) / kReadLength;

// Data lengths of GET WINDOW and MODE SENSE; the request status of a failure.
constexpr std::uint32_t kWindowListLength = 78;
constexpr std::uint32_t kCoolingPageLength = 144;
constexpr std::uint8_t kRequestError = 0x04;

constexpr std::uint8_t kUntouched = 0xA5;
constexpr int32_t kUntouchedCooling = 0x5A5A;
constexpr int32_t kSetpoint = -100;
constexpr std::uint32_t kPendingDelayMicroseconds = 50;

struct Failure {
    const char* name;
    int completion;  // SimSetCompletion mode for the whole case
    int kind;        // SimAddFault kind
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const Failure& failure, std::ostream* out) { *out << failure.name; }

const Failure kFailures[] = {
    {"RefusedAtOnce", SIM_IMMEDIATE, SIM_FAULT_REFUSE},
    {"RefusedWhilePending", SIM_PENDING, SIM_FAULT_REFUSE},
    {"CheckCondition", SIM_IMMEDIATE, SIM_FAULT_CHECK_CONDITION},
    {"FailedAfterPending", SIM_PENDING, SIM_FAULT_CHECK_CONDITION},
    {"UnitAttention", SIM_IMMEDIATE, SIM_FAULT_UNIT_ATTENTION},
};

Bytes CameraImage() {
    Bytes image(SimLastImage(nullptr, 0));
    SimLastImage(image.data(), static_cast<std::uint32_t>(image.size()));
    return image;
}

}  // namespace

// A whole session and its parts, to run after a failure.
class SessionTest : public ModuleTest {
protected:
    static void ExposeWindow() { ASSERT_EQ(Expose(0, 0, 0, kWidth, kHeight, kOriginX, kOriginY), 1); }

    static void WaitReady() {
        constexpr int kMaxPolls = 1000;
        int polls = 0;
        while (Ready() != 1) ASSERT_LT(++polls, kMaxPolls) << "the camera never became ready";
    }

    // A whole session: setpoint, exposure, download of the camera's exact
    // bytes, cooling reading.
    static void ExpectWholeSession() {
        EXPECT_EQ(SetTemperature(kSetpoint), 1);
        ASSERT_NO_FATAL_FAILURE(ExposeWindow());
        ASSERT_NO_FATAL_FAILURE(WaitReady());
        Bytes image(kImageBytes, kUntouched);
        ASSERT_EQ(Download(image.data()), 1);
        EXPECT_EQ(image, CameraImage());
        int32_t cooling = -1;
        EXPECT_EQ(GetCoolingInfo(&cooling), SimTemperature());
        EXPECT_EQ(static_cast<std::uint32_t>(cooling), SimCoolerDrive());
    }

    // After the failure: the session works on this connection, then on a
    // new one.
    static void ExpectHealthyAfterwards() {
        SCOPED_TRACE("after the failure");
        ASSERT_NO_FATAL_FAILURE(ExpectWholeSession());
        Disconnect();
        ASSERT_NO_FATAL_FAILURE(ConnectOk());
        ExpectWholeSession();
    }
};

class FaultMatrix : public SessionTest, public ::testing::WithParamInterface<Failure> {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        SimSetCompletion(GetParam().completion, kPendingDelayMicroseconds);
    }

    // The next command with this opcode, after `skip` others, fails.
    void FailNext(std::uint8_t opcode, std::uint32_t skip = 0) { SimAddFault(opcode, skip, 1, GetParam().kind); }
};

TEST_P(FaultMatrix, AFailedInquiryLeavesTheCameraUnfound) {
    FailNext(kInquiry);
    const char* error = nullptr;
    EXPECT_EQ(Connect(&error), 0);
    EXPECT_STREQ(error, "Camera not found");
    EXPECT_EQ(ExecRequests().size(), 1u) << "only the failed INQUIRY went out";

    // The device exports of a connection without a camera send nothing.
    SimLogClear();
    int32_t cooling = kUntouchedCooling;
    Bytes image(kImageBytes, kUntouched);
    EXPECT_EQ(Expose(0, 0, 0, kWidth, kHeight, kOriginX, kOriginY), 0);
    EXPECT_EQ(Ready(), 0);
    EXPECT_EQ(Download(image.data()), 0);
    EXPECT_EQ(SetTemperature(kSetpoint), 0);
    EXPECT_EQ(GetCoolingInfo(&cooling), TARNSCSI_NO_READING);
    EXPECT_EQ(cooling, kUntouchedCooling);
    EXPECT_EQ(SimLogCount(), 0u);

    ConnectOk();
    ExpectHealthyAfterwards();
}

TEST_P(FaultMatrix, AFailedSetpointIsReported) {
    ConnectOk();
    FailNext(kModeSelect);
    EXPECT_EQ(SetTemperature(kSetpoint), 0);
    ExpectHealthyAfterwards();
}

TEST_P(FaultMatrix, AFailedWindowStartsNoScan) {
    ConnectOk();
    SimLogClear();
    FailNext(kSetWindow);
    EXPECT_EQ(Expose(0, 0, 0, kWidth, kHeight, kOriginX, kOriginY), 0);
    EXPECT_EQ(ExecRequests(kScan).size(), 0u);
    EXPECT_EQ(ExecRequests().size(), 1u);
    ExpectHealthyAfterwards();
}

TEST_P(FaultMatrix, AFailedScanStillReportsTheExposureStartedAndDownloadTellsTheTruth) {
    ConnectOk();
    FailNext(kScan);
    EXPECT_EQ(Expose(0, 0, 0, kWidth, kHeight, kOriginX, kOriginY), 1);
    // No exposure runs, so the camera is ready, and has no image to give.
    WaitReady();
    Bytes image(kImageBytes, kUntouched);
    EXPECT_EQ(Download(image.data()), 0);
    ExpectHealthyAfterwards();
}

TEST_P(FaultMatrix, AFailedReadinessTestReadsAsNotReady) {
    ConnectOk();
    ExposeWindow();
    FailNext(kTestUnitReady);
    EXPECT_EQ(Ready(), 0);
    EXPECT_EQ(Ready(), 1);
    // The exposure itself was not disturbed.
    Bytes image(kImageBytes, kUntouched);
    ASSERT_EQ(Download(image.data()), 1);
    EXPECT_EQ(image, CameraImage());
    ExpectHealthyAfterwards();
}

TEST_P(FaultMatrix, AFailedWindowReadLeavesTheBufferUntouchedAndReadsNothing) {
    ConnectOk();
    ExposeWindow();
    WaitReady();
    SimLogClear();
    FailNext(kGetWindow);
    Bytes image(kImageBytes, kUntouched);
    EXPECT_EQ(Download(image.data()), 0);
    EXPECT_EQ(image, Bytes(kImageBytes, kUntouched));
    EXPECT_EQ(ExecRequests(kRead).size(), 0u);
    // Nothing was read, so the whole image is still there.
    ASSERT_EQ(Download(image.data()), 1);
    EXPECT_EQ(image, CameraImage());
    ExpectHealthyAfterwards();
}

TEST_P(FaultMatrix, AFailedImageReadKeepsWhatArrivedAndReadsNoFurther) {
    ConnectOk();
    for (const std::uint32_t failing : {0u, kReads / 2, kReads - 1}) {
        SCOPED_TRACE(::testing::Message() << "read " << failing << " of " << kReads << " fails");
        ExposeWindow();
        WaitReady();
        SimLogClear();
        FailNext(kRead, failing);
        Bytes image(kImageBytes, kUntouched);
        EXPECT_EQ(Download(image.data()), 0);
        EXPECT_EQ(ExecRequests(kRead).size(), failing + 1);

        const auto arrived = static_cast<std::ptrdiff_t>(failing * kReadLength);
        const Bytes camera = CameraImage();
        ASSERT_EQ(camera.size(), kImageBytes);
        EXPECT_TRUE(std::equal(image.begin(), image.begin() + arrived, camera.begin()))
            << "the reads before the failed one are kept";
        EXPECT_TRUE(std::all_of(image.begin() + arrived, image.end(), [](std::uint8_t b) { return b == kUntouched; }))
            << "nothing is written from the failed read on";
    }
    ExpectHealthyAfterwards();
}

TEST_P(FaultMatrix, AFailedCoolingReadGivesNoReadingAndLeavesTheCoolingByte) {
    ConnectOk();
    ASSERT_EQ(SetTemperature(kSetpoint), 1);
    FailNext(kModeSense);
    int32_t cooling = kUntouchedCooling;
    EXPECT_EQ(GetCoolingInfo(&cooling), TARNSCSI_NO_READING);
    EXPECT_EQ(cooling, kUntouchedCooling);
    ExpectHealthyAfterwards();
}

INSTANTIATE_TEST_SUITE_P(Failures, FaultMatrix, ::testing::ValuesIn(kFailures),
                         [](const ::testing::TestParamInfo<Failure>& failure) { return failure.param.name; });

// A data phase that ends short with good status (half the bytes arrive) is
// a failure of the command, whatever it read: the export fails as for any
// failed command and leaves what it reports untouched; then all works again.
TEST_F(SessionTest, AShortTransferFailsTheExportItBelongsTo) {
    ConnectOk();
    struct Case {
        const char* name;
        std::uint8_t opcode;
        std::uint32_t skip;
        std::uint32_t asked;
    };
    const Case cases[] = {
        {"first image read", kRead, 0, kReadLength},
        {"middle image read", kRead, kReads / 2, kReadLength},
        {"last image read", kRead, kReads - 1, kImageBytes - (kReads - 1) * kReadLength},
        {"window read", kGetWindow, 0, kWindowListLength},
        {"cooling read", kModeSense, 0, kCoolingPageLength},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(ExposeWindow());
        ASSERT_NO_FATAL_FAILURE(WaitReady());
        SimLogClear();
        SimAddFault(c.opcode, c.skip, 1, SIM_FAULT_SHORT_TRANSFER);
        if (c.opcode == kModeSense) {
            int32_t cooling = kUntouchedCooling;
            EXPECT_EQ(GetCoolingInfo(&cooling), TARNSCSI_NO_READING);
            EXPECT_EQ(cooling, kUntouchedCooling);
        } else {
            Bytes image(kImageBytes, kUntouched);
            EXPECT_EQ(Download(image.data()), 0);
            EXPECT_EQ(ExecRequests(kRead).size(), c.opcode == kRead ? c.skip + 1 : 0u) << "read on after the failure";
        }
        const auto sent = ExecRequests(c.opcode);
        ASSERT_EQ(sent.size(), c.skip + 1);
        EXPECT_EQ(sent.back().bufferLength, c.asked);
        EXPECT_EQ(sent.back().transferred, c.asked / 2);
        EXPECT_EQ(sent.back().finalStatus, kRequestError) << "a short transfer passed as complete";
        EXPECT_EQ(sent.back().targetStatus, 0x00);
    }
    ExpectWholeSession();
}

// A camera reset under a connection: each device export's command is
// answered with UNIT ATTENTION, and the export reports it as the failure it
// is, having sent exactly its one command; the next call goes through.
TEST_F(ModuleTest, AfterAResetEachExportReportsItsOneCommandFailed) {
    ASSERT_EQ(SimConfigure("unit-attention=1"), 0);
    ConnectOk();  // INQUIRY is answered, and leaves the report for the next command
    struct Case {
        const char* name;
        std::function<int32_t()> call;
        int32_t failed;
        Bytes cdb;
    };
    Bytes image(kImageBytes, kUntouched);
    int32_t cooling = kUntouchedCooling;
    const Case cases[] = {
        {"Ready", [] { return Ready(); }, 0, {0x00, 0x00, 0x00, 0x00, 0x90, 0x00}},
        {"SetTemperature", [] { return SetTemperature(kSetpoint); }, 0, {0x15, 0x10, 0x00, 0x00, 0x90, 0x00}},
        {"GetCoolingInfo",
         [&cooling] { return GetCoolingInfo(&cooling); },
         TARNSCSI_NO_READING,
         {0x1A, 0x08, 0x09, 0x00, 0x90, 0x00}},
        {"Expose",
         [] { return Expose(0, 0, 0, kWidth, kHeight, kOriginX, kOriginY); },
         0,
         {0x24, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x4E, 0x00}},
        {"Download",
         [&image] { return Download(image.data()); },
         0,
         {0x25, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x4E, 0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(SimConfigure("unit-attention=1"), 0);
        SimLogClear();
        EXPECT_EQ(c.call(), c.failed);
        const auto sent = ExecRequests();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(Cdb(sent[0]), c.cdb);
        EXPECT_EQ(sent[0].targetStatus, 0x02);
    }
    EXPECT_EQ(cooling, kUntouchedCooling);
    EXPECT_EQ(image, Bytes(kImageBytes, kUntouched));

    EXPECT_EQ(Ready(), 1);
    ASSERT_EQ(Expose(0, 0, 0, kWidth, kHeight, kOriginX, kOriginY), 1);
    ASSERT_EQ(Download(image.data()), 1);
    EXPECT_EQ(image, CameraImage());
}
