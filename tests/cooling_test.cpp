// Cooling and readiness through the exports: the cooling page on the bus,
// the readings decoded from it, and TEST UNIT READY.
#include <cstdint>
#include <vector>

#include "support/module_fixture.h"

using namespace tarnscsi::testing_support;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A cooling page reply with these bytes at the given offsets.
void ReplyCoolingPage(std::initializer_list<std::pair<std::size_t, std::uint8_t>> bytes) {
    Bytes page(144, 0);
    page[4] = 0x09;
    page[5] = 0x8A;
    for (auto [at, value] : bytes) page[at] = value;
    SimScriptReply(0x1A, page.data(), static_cast<std::uint32_t>(page.size()), 1);
}

}  // namespace

class CoolingTest : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        ConnectOk();
        SimLogClear();
    }
};

TEST_F(CoolingTest, WritesTheSetpointIntoTheCoolingPage) {
    struct Case {
        int32_t setpoint;
        std::uint8_t high, low;
    };
    // Big-endian, the units the camera's; the edges of the 16-bit field too.
    const Case cases[] = {{-5, 0xFF, 0xFB}, {250, 0x00, 0xFA}, {-32768, 0x80, 0x00}, {32767, 0x7F, 0xFF}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setpoint);
        SimLogClear();
        EXPECT_EQ(SetTemperature(c.setpoint), 1);
        const auto requests = ExecRequests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(Cdb(requests[0]), (Bytes{0x15, 0x10, 0x00, 0x00, 0x90, 0x00}));
        EXPECT_EQ(requests[0].flags, 0x50);
        EXPECT_EQ(requests[0].bufferLength, 144u);
        Bytes expected(144, 0);
        expected[4] = 0x09;
        expected[5] = 0x8A;
        expected[6] = 0xAB;
        expected[7] = 0xCD;
        expected[132] = c.high;
        expected[133] = c.low;
        EXPECT_EQ(DataOut(requests[0]), expected);
    }
}

TEST_F(CoolingTest, ASetpointTheFieldCannotHoldIsRefusedWithoutSendingAnything) {
    // Cut to 16 bits, 40000 would drive the cooler to -25536.
    for (int32_t setpoint : {32768, -32769, 40000, INT32_MAX, INT32_MIN}) {
        SCOPED_TRACE(setpoint);
        EXPECT_EQ(SetTemperature(setpoint), 0);
        EXPECT_EQ(SimLogCount(), 0u);
    }
    EXPECT_EQ(SetTemperature(-100), 1);
}

TEST_F(CoolingTest, ASetpointTheCameraRefusesReportsFailure) {
    SimAddFault(0x15, 0, 1, SIM_FAULT_CHECK_CONDITION);
    EXPECT_EQ(SetTemperature(-100), 0);
    SimAddFault(0x15, 0, 1, SIM_FAULT_REFUSE);
    EXPECT_EQ(SetTemperature(-100), 0);
    EXPECT_EQ(SetTemperature(-100), 1);
}

TEST_F(CoolingTest, DecodesTemperatureAndCoolingByteFromTheReply) {
    struct Case {
        std::uint8_t tHigh, tLow, cooling;
        int32_t temperature, coolingByte;
    };
    const Case cases[] = {{0xFF, 0x9C, 0x00, -100, 0}, {0x00, 0x64, 0xC8, 100, 200}, {0x80, 0x00, 0xFF, -32768, 255}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.temperature);
        SimLogClear();
        ReplyCoolingPage({{134, c.tHigh}, {135, c.tLow}, {131, c.cooling}});
        int32_t cooling = -1;
        EXPECT_EQ(GetCoolingInfo(&cooling), c.temperature);
        EXPECT_EQ(cooling, c.coolingByte);
        const auto requests = ExecRequests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(Cdb(requests[0]), (Bytes{0x1A, 0x08, 0x09, 0x00, 0x90, 0x00}));
        EXPECT_EQ(requests[0].flags, 0x48);
        EXPECT_EQ(requests[0].bufferLength, 144u);
    }
}

// Our managers report a page that ends before the reported temperature
// as a data underrun: no reading; one that ends just after it holds all
// the module reads. A manager that lets a short page pass as complete
// still never shows an earlier page.
TEST_F(CoolingTest, AShortReplyIsNoReadingAndNeverAnEarlierPage) {
    ReplyCoolingPage({{134, 0x01}, {135, 0x02}, {131, 0x40}});
    int32_t cooling = 0;
    ASSERT_EQ(GetCoolingInfo(&cooling), 0x0102);
    Bytes page(144, 0);
    page[131] = 0x41;
    page[134] = 0x01;
    page[135] = 0x03;
    SimScriptReply(0x1A, page.data(), 136, 1);
    EXPECT_EQ(GetCoolingInfo(&cooling), 0x0103);
    EXPECT_EQ(cooling, 0x41);
    for (std::uint32_t length : {135u, 8u}) {
        SimScriptReply(0x1A, page.data(), length, 1);
        cooling = 1234;
        EXPECT_EQ(GetCoolingInfo(&cooling), TARNSCSI_NO_READING) << length;
        EXPECT_EQ(cooling, 1234);
    }
    SimPassShortTransfers(1);
    SimScriptReply(0x1A, page.data(), 8, 1);
    EXPECT_EQ(GetCoolingInfo(&cooling), 0);
    EXPECT_EQ(cooling, 0);
}

TEST_F(CoolingTest, AFailedReadingIsNoReadingAndWritesNothing) {
    for (int kind : {SIM_FAULT_CHECK_CONDITION, SIM_FAULT_REFUSE}) {
        SimAddFault(0x1A, 0, 1, kind);
        int32_t cooling = 1234;
        EXPECT_EQ(GetCoolingInfo(&cooling), TARNSCSI_NO_READING);
        EXPECT_EQ(cooling, 1234);
        SimReset();
    }
}

TEST_F(CoolingTest, TheCameraCoolsTowardsTheSetpoint) {
    int32_t drive = -1;
    const int32_t ambient = GetCoolingInfo(&drive);
    EXPECT_EQ(drive, 0);
    ASSERT_EQ(SetTemperature(ambient - 150), 1);
    EXPECT_EQ(GetCoolingInfo(&drive), ambient - 150);
    EXPECT_GT(drive, 0);
    EXPECT_LT(drive, 255);
}

TEST_F(CoolingTest, ReadySendsTestUnitReadyAsARead) {
    EXPECT_EQ(Ready(), 1);
    const auto requests = ExecRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(Cdb(requests[0]), (Bytes{0x00, 0x00, 0x00, 0x00, 0x90, 0x00}));
    EXPECT_EQ(requests[0].flags, 0x48);
    EXPECT_EQ(requests[0].bufferLength, 0u);
    EXPECT_EQ(requests[0].hadBuffer, 0);
}

TEST_F(CoolingTest, ReadyIsNoWhileExposingAndOnAnyFailure) {
    SimSetManualClock(1);
    ASSERT_EQ(Expose(400, 0, 0, 64, 64, 0, 0), 1);  // 400 ms, then about 10.4 ms of readout
    EXPECT_EQ(Ready(), 0);
    SimAdvanceClock(410'000);
    EXPECT_EQ(Ready(), 0);
    SimAdvanceClock(1'000);
    EXPECT_EQ(Ready(), 1);

    SimAddFault(0x00, 0, 1, SIM_FAULT_CHECK_CONDITION);
    EXPECT_EQ(Ready(), 0);
    SimAddFault(0x00, 0, 1, SIM_FAULT_REFUSE);
    EXPECT_EQ(Ready(), 0);
    EXPECT_EQ(Ready(), 1);
}
