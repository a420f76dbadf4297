// SCAN, READ(10) and TEST UNIT READY: the order the camera insists on, the
// image stream, readiness while an exposure runs, and what a reset takes.
#include "window_layout.h"
#include "sim_test_support.h"

namespace tarnscsi::simtest {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The pattern at sensor position (x, y).
std::uint32_t PatternAt(std::uint32_t x, std::uint32_t y) { return ((y * 768 + x) * 40503 + 12345) % 16384; }

// Expected byte i of the pattern image of a binned window `width` unbinned
// pixels wide at (originX, originY): each pixel the sum of its 2 x 2 cell.
std::uint8_t BinnedPatternByte(std::size_t i, std::uint32_t originX, std::uint32_t originY, std::uint32_t width) {
    const auto n = static_cast<std::uint32_t>(i / 2);
    const std::uint32_t x = originX + 2 * (n % (width / 2));
    const std::uint32_t y = originY + 2 * (n / (width / 2));
    const auto pixel = static_cast<std::uint16_t>(PatternAt(x, y) + PatternAt(x + 1, y) + PatternAt(x, y + 1) +
                                                  PatternAt(x + 1, y + 1));
    return static_cast<std::uint8_t>(i % 2 == 0 ? pixel >> 8 : pixel);
}

tarnscsi::aspi::SRB_ExecSCSICmd ReadBlock(Bytes& buffer, std::uint16_t length) {
    auto block = Block(tarnscsi::camera::kReadImage, buffer.data(), static_cast<std::uint32_t>(buffer.size()));
    block.CDBByte[tarnscsi::camera::kReadLengthOffset] = static_cast<std::uint8_t>(length >> 8);
    block.CDBByte[tarnscsi::camera::kReadLengthOffset + 1] = static_cast<std::uint8_t>(length);
    return block;
}

bool SetWindow(const WindowFields& fields) {
    Bytes list = WindowList(fields);
    return RunCommand(tarnscsi::camera::kSetWindow, list);
}

bool Scan() {
    Bytes windowIds{tarnscsi::camera::window::kWindowIdValue};
    return RunCommand(tarnscsi::camera::kStartScan, windowIds);
}

bool TestUnitReady() {
    Bytes none;
    return RunCommand(tarnscsi::camera::kTestUnitReady, none);
}

class ExposureTest : public SimTest {};

TEST_F(ExposureTest, ScanNeedsAWindowFirst) {
    Bytes windowIds{tarnscsi::camera::window::kWindowIdValue};
    auto block = Block(tarnscsi::camera::kStartScan, windowIds.data(), 1);
    EXPECT_EQ(Send(block), tarnscsi::aspi::SS_ERR);
    ExpectCheckCondition(block, tarnscsi::scsi::SenseKey::kIllegalRequest, tarnscsi::scsi::kCommandSequenceError);
}

TEST_F(ExposureTest, ScanOfAnotherWindowIdIsRejected) {
    ASSERT_TRUE(SetWindow({}));
    Bytes windowIds{2};
    auto block = Block(tarnscsi::camera::kStartScan, windowIds.data(), 1);
    Send(block);
    ExpectCheckCondition(block, tarnscsi::scsi::SenseKey::kIllegalRequest,
                         tarnscsi::scsi::kInvalidFieldInParameterList);
}

TEST_F(ExposureTest, ReadBeforeAnyScanIsASequenceErrorAndMovesNothing) {
    ASSERT_TRUE(SetWindow({}));
    Bytes buffer(16, 0xEE);
    auto block = ReadBlock(buffer, 16);
    EXPECT_EQ(Send(block), tarnscsi::aspi::SS_ERR);
    ExpectCheckCondition(block, tarnscsi::scsi::SenseKey::kIllegalRequest, tarnscsi::scsi::kCommandSequenceError);
    EXPECT_EQ(buffer, Bytes(16, 0xEE));
}

TEST_F(ExposureTest, ImageIsOneOrderedStreamAndEndsExactly) {
    // Binned 10 x 6 window: 5 x 3 pixels, 30 bytes.
    ASSERT_TRUE(SetWindow({4, 2, 10, 6, true, 0}));
    ASSERT_TRUE(Scan());
    ASSERT_TRUE(TestUnitReady());

    Bytes tooMuch(32, 0xEE);
    auto pastEnd = ReadBlock(tooMuch, 32);
    Send(pastEnd);
    ExpectCheckCondition(pastEnd, tarnscsi::scsi::SenseKey::kIllegalRequest, tarnscsi::scsi::kInvalidFieldInCdb);
    EXPECT_EQ(tooMuch, Bytes(32, 0xEE)) << "a read past the end transfers nothing";

    Bytes first(16), second(14);
    auto read1 = ReadBlock(first, 16);
    auto read2 = ReadBlock(second, 14);
    ASSERT_EQ(Send(read1), tarnscsi::aspi::SS_COMP);
    ASSERT_EQ(Send(read2), tarnscsi::aspi::SS_COMP);
    for (std::size_t i = 0; i < 30; ++i) {
        const std::uint8_t got = i < 16 ? first[i] : second[i - 16];
        ASSERT_EQ(got, BinnedPatternByte(i, 4, 2, 10)) << "byte " << i;
    }

    Bytes last(30);
    EXPECT_EQ(SimLastImage(last.data(), 30), 30u);
    EXPECT_EQ(Bytes(last.begin(), last.begin() + 16), first);

    Bytes one(1);
    auto afterEnd = ReadBlock(one, 1);
    EXPECT_EQ(Send(afterEnd), tarnscsi::aspi::SS_ERR);
    Bytes none;
    auto empty = ReadBlock(none, 0);
    EXPECT_EQ(Send(empty), tarnscsi::aspi::SS_COMP);
    EXPECT_EQ(empty.SRB_TargStat, tarnscsi::aspi::STATUS_GOOD);
}

TEST_F(ExposureTest, UnbinnedImageHasOnePixelPerWindowPixel) {
    ASSERT_TRUE(SetWindow({0, 0, 7, 3, false, 0}));
    ASSERT_TRUE(Scan());
    EXPECT_EQ(SimLastImage(nullptr, 0), 7u * 3u * 2u);
}

// Exposure, then readout (a binned full frame: 250 ms), both on the manual
// clock: TEST UNIT READY and READ say NOT READY until the last microsecond.
TEST_F(ExposureTest, CameraIsNotReadyUntilExposureAndReadoutAreOver) {
    SimSetManualClock(1);
    ASSERT_TRUE(SetWindow({0, 0, 768, 512, true, 150}));
    ASSERT_TRUE(Scan());

    auto tur = Block(tarnscsi::camera::kTestUnitReady, nullptr, 0);
    Send(tur);
    ExpectCheckCondition(tur, tarnscsi::scsi::SenseKey::kNotReady, tarnscsi::scsi::kNotReadyBecomingReady);
    Bytes buffer(8);
    auto read = ReadBlock(buffer, 8);
    Send(read);
    ExpectCheckCondition(read, tarnscsi::scsi::SenseKey::kNotReady, tarnscsi::scsi::kNotReadyBecomingReady);

    SimAdvanceClock(150'000);
    Send(tur = Block(tarnscsi::camera::kTestUnitReady, nullptr, 0));
    ExpectCheckCondition(tur, tarnscsi::scsi::SenseKey::kNotReady, tarnscsi::scsi::kNotReadyBecomingReady);
    SimAdvanceClock(249'999);
    Send(read = ReadBlock(buffer, 8));
    ExpectCheckCondition(read, tarnscsi::scsi::SenseKey::kNotReady, tarnscsi::scsi::kNotReadyBecomingReady);
    SimAdvanceClock(1);
    EXPECT_TRUE(TestUnitReady());
    EXPECT_EQ(Send(read = ReadBlock(buffer, 8)), tarnscsi::aspi::SS_COMP);
}

TEST_F(ExposureTest, NewWindowAbandonsARunningExposure) {
    SimSetManualClock(1);
    ASSERT_TRUE(SetWindow({0, 0, 2, 2, false, 60000}));
    ASSERT_TRUE(Scan());
    ASSERT_FALSE(TestUnitReady());

    ASSERT_TRUE(SetWindow({0, 0, 2, 2, false, 0}));
    EXPECT_TRUE(TestUnitReady());
    Bytes buffer(8);
    auto read = ReadBlock(buffer, 8);
    Send(read);
    ExpectCheckCondition(read, tarnscsi::scsi::SenseKey::kIllegalRequest, tarnscsi::scsi::kCommandSequenceError);
}

TEST_F(ExposureTest, ASecondScanStartsTheExposureOver) {
    SimSetManualClock(1);
    ASSERT_TRUE(SetWindow({0, 0, 768, 512, true, 1000}));  // 1000 ms, then 250 ms of readout
    ASSERT_TRUE(Scan());
    SimAdvanceClock(800'000);
    ASSERT_TRUE(Scan());
    SimAdvanceClock(500'000);
    EXPECT_FALSE(TestUnitReady()) << "the first exposure would be over by now; the second is not";
    SimAdvanceClock(749'999);
    EXPECT_FALSE(TestUnitReady());
    SimAdvanceClock(1);
    EXPECT_TRUE(TestUnitReady()) << "1250 ms after the second SCAN";
}

TEST_F(ExposureTest, AResetIsToldToTheNextCommandsButInquiryAndTakesTheExposure) {
    Bytes cooling = CoolingList(-50);
    ASSERT_TRUE(RunCommand(tarnscsi::camera::kWriteCoolingPage, cooling));
    const std::int32_t cooled = SimTemperature();
    ASSERT_TRUE(SetWindow({0, 0, 4, 4, false, 0}));
    ASSERT_TRUE(Scan());
    ASSERT_TRUE(TestUnitReady());

    ASSERT_EQ(SimConfigure("unit-attention=2"), 0);
    Bytes inquiry(tarnscsi::camera::kIdentify.dataLength);
    EXPECT_TRUE(RunCommand(tarnscsi::camera::kIdentify, inquiry)) << "INQUIRY is answered and leaves the report";
    auto tur = Block(tarnscsi::camera::kTestUnitReady, nullptr, 0);
    EXPECT_EQ(Send(tur), tarnscsi::aspi::SS_ERR);
    ExpectCheckCondition(tur, tarnscsi::scsi::SenseKey::kUnitAttention, tarnscsi::scsi::kPowerOnOrReset);
    Bytes buffer(8, 0xEE);
    auto read = ReadBlock(buffer, 8);
    Send(read);
    ExpectCheckCondition(read, tarnscsi::scsi::SenseKey::kUnitAttention, tarnscsi::scsi::kPowerOnOrReset);
    EXPECT_EQ(buffer, Bytes(8, 0xEE)) << "a command answered with UNIT ATTENTION is not carried out";

    // Both told: the image and the window went with the reset, the cooler did not.
    auto again = ReadBlock(buffer, 8);
    Send(again);
    ExpectCheckCondition(again, tarnscsi::scsi::SenseKey::kIllegalRequest, tarnscsi::scsi::kCommandSequenceError);
    Bytes windowIds{tarnscsi::camera::window::kWindowIdValue};
    auto scan = Block(tarnscsi::camera::kStartScan, windowIds.data(), 1);
    Send(scan);
    ExpectCheckCondition(scan, tarnscsi::scsi::SenseKey::kIllegalRequest, tarnscsi::scsi::kCommandSequenceError);
    EXPECT_EQ(SimTemperature(), cooled);
}

TEST_F(ExposureTest, TestUnitReadyTakesEitherNoDirectionOrReadButNotWrite) {
    auto tur = Block(tarnscsi::camera::kTestUnitReady, nullptr, 0);
    tur.SRB_Flags = 0;
    tur.CDBByte[4] = 0;  // byte 4 is ignored
    EXPECT_EQ(Send(tur), tarnscsi::aspi::SS_COMP);
    tur.SRB_Flags = tarnscsi::aspi::SRB_DIR_OUT;
    Send(tur);
    ExpectCheckCondition(tur, tarnscsi::scsi::SenseKey::kIllegalRequest, tarnscsi::scsi::kInvalidFieldInCdb);
}

}  // namespace
}  // namespace tarnscsi::simtest