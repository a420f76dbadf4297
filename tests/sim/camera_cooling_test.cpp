// MODE SELECT and MODE SENSE of the cooling page: what the camera accepts,
// and what it reports as the cooler works.
#include "cooling_page.h"
#include "big_endian.h"
#include "sim_test_support.h"

namespace tarnscsi::simtest {
namespace {

namespace c = tarnscsi::camera::cooling;
using Bytes = std::vector<std::uint8_t>;

struct Reading {
    std::int16_t temperature;
    std::uint8_t drive;
    std::int16_t setpoint;
};

Reading Sense() {
    Bytes list(c::kLength, 0xEE);
    EXPECT_TRUE(RunCommand(tarnscsi::camera::kReadCoolingPage, list));
    EXPECT_EQ(list[0], c::kLength - 1);
    EXPECT_EQ(list[c::kPageCode], c::kPageCodeValue);
    EXPECT_EQ(list[c::kPageLength], c::kPageLengthValue);
    EXPECT_EQ(list[c::kSignature], c::kSignatureValue[0]);
    EXPECT_EQ(list[c::kSignature + 1], c::kSignatureValue[1]);
    return {static_cast<std::int16_t>(GetBE16(&list[c::kTemperature])), list[c::kCoolingByte],
            static_cast<std::int16_t>(GetBE16(&list[c::kSetpoint]))};
}

bool Select(std::int16_t setpoint) {
    Bytes list = CoolingList(setpoint);
    return RunCommand(tarnscsi::camera::kWriteCoolingPage, list);
}

class CoolingTest : public SimTest {};

TEST_F(CoolingTest, CoolerIsOffAtAmbientUntilASetpointArrives) {
    const Reading r = Sense();
    EXPECT_EQ(r.temperature, 200);
    EXPECT_EQ(r.drive, 0);
    EXPECT_EQ(SimTemperature(), 200);
}

TEST_F(CoolingTest, WithoutTimeScaleTheSetpointIsReachedAtOnce) {
    struct Case {
        std::int16_t setpoint;
        std::int16_t temperature;
        std::uint8_t drive;
    };
    const Case cases[] = {
        {-100, -100, 191},  // 30 C below ambient: 3/4 of full drive
        {200, 200, 0},
        {-200, -200, 255},  // the cooler's limit
        {-300, -200, 255},  // out of reach
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.setpoint);
        ASSERT_TRUE(Select(k.setpoint));
        const Reading r = Sense();
        EXPECT_EQ(r.temperature, k.temperature);
        EXPECT_EQ(r.drive, k.drive);
        EXPECT_EQ(r.setpoint, k.setpoint);
        EXPECT_EQ(SimCoolerDrive(), k.drive);
    }
}

// From +20.0 C towards 0.0 C at 1 C per simulated second, easing off over
// the last degree; on the manual clock, readings are exact and time stands
// still between advances.
TEST_F(CoolingTest, TemperatureMovesAtTheCoolingRate) {
    SimSetManualClock(1);
    ASSERT_TRUE(Select(0));
    EXPECT_EQ(Sense().temperature, 200);
    SimAdvanceClock(1'000'000);
    EXPECT_EQ(Sense().temperature, 190);
    SimAdvanceClock(4'000'000);
    Reading r = Sense();
    EXPECT_EQ(r.temperature, 150);
    EXPECT_EQ(r.drive, 96) << "pulling down at 1 C/s: 10 C of drive on top of the 5 C that holds";
    EXPECT_EQ(Sense().temperature, 150) << "the clock moved without an advance";
    SimAdvanceClock(14'000'000);
    EXPECT_EQ(Sense().temperature, 10);
    SimAdvanceClock(1'000'000);
    r = Sense();
    EXPECT_GT(r.temperature, 0) << "the last degree takes longer";
    EXPECT_LT(r.temperature, 10);
    SimAdvanceClock(5'000'000);
    EXPECT_EQ(Sense().temperature, 0);
}

TEST_F(CoolingTest, MalformedPageListsAreRejected) {
    const std::size_t kBlockDescriptorLength = 3;
    const std::pair<std::size_t, std::uint8_t> spoilers[] = {
        {c::kPageCode, 0x0A},      {c::kPageLength, 0x89},      {c::kSignature, 0xAC},
        {c::kSignature + 1, 0xCE}, {kBlockDescriptorLength, 8},
    };
    for (const auto& [offset, value] : spoilers) {
        SCOPED_TRACE(offset);
        Bytes list = CoolingList(-50);
        list[offset] = value;
        auto block = Block(tarnscsi::camera::kWriteCoolingPage, list.data(), c::kLength);
        EXPECT_EQ(Send(block), tarnscsi::aspi::SS_ERR);
        ExpectCheckCondition(block, tarnscsi::scsi::SenseKey::kIllegalRequest,
                             tarnscsi::scsi::kInvalidFieldInParameterList);
    }
    EXPECT_EQ(Sense().drive, 0) << "no rejected list may switch the cooler on";
}

TEST_F(CoolingTest, MalformedModeCommandsAreRejected) {
    struct Spoiler {
        const tarnscsi::camera::CommandSpec* command;
        std::size_t byte;
        std::uint8_t value;
    };
    const Spoiler spoilers[] = {
        {&tarnscsi::camera::kWriteCoolingPage, 1, 0x00},  // page-format bit clear
        {&tarnscsi::camera::kWriteCoolingPage, 4, 0x8F},  // parameter list length
        {&tarnscsi::camera::kReadCoolingPage, 2, 0x0A},   // another page
        {&tarnscsi::camera::kReadCoolingPage, 2, 0x49},   // changeable values
    };
    for (const Spoiler& s : spoilers) {
        SCOPED_TRACE(s.byte);
        Bytes list = CoolingList(-50);
        auto block = Block(*s.command, list.data(), c::kLength);
        block.CDBByte[s.byte] = s.value;
        EXPECT_EQ(Send(block), tarnscsi::aspi::SS_ERR);
        ExpectCheckCondition(block, tarnscsi::scsi::SenseKey::kIllegalRequest, tarnscsi::scsi::kInvalidFieldInCdb);
    }
}

TEST_F(CoolingTest, ModeSenseMovesNoMoreThanTheBufferOrAllocation) {
    Bytes list(c::kLength, 0xEE);
    auto block = Block(tarnscsi::camera::kReadCoolingPage, list.data(), c::kLength);
    block.CDBByte[4] = 8;
    ASSERT_EQ(Send(block), tarnscsi::aspi::SS_ERR) << "8 bytes of a larger buffer are a short transfer";
    EXPECT_EQ(block.SRB_HaStat, tarnscsi::aspi::HASTAT_DO_DU);
    EXPECT_EQ(list[c::kSignature + 1], c::kSignatureValue[1]);
    EXPECT_EQ(list[8], 0xEE);

    block = Block(tarnscsi::camera::kReadCoolingPage, list.data(), c::kLength - 1);
    EXPECT_EQ(Send(block), tarnscsi::aspi::SS_ERR) << "allocation length beyond the buffer";
}

}  // namespace
}  // namespace tarnscsi::simtest