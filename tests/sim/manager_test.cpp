// The request-block side of the simulator: support word, get-device-type,
// addressing, the rules every target applies, sense copying, plain devices,
// scripted replies, injected faults and the request log.
#include <cstring>

#include "window_layout.h"
#include "sim_test_support.h"

namespace tarnscsi::simtest {
namespace {

using Bytes = std::vector<std::uint8_t>;

tarnscsi::aspi::SRB_GDEVBlock DeviceTypeBlock(std::uint8_t adapter, std::uint8_t target) {
    tarnscsi::aspi::SRB_GDEVBlock block{};
    block.SRB_Cmd = tarnscsi::aspi::SC_GET_DEV_TYPE;
    block.SRB_HaId = adapter;
    block.SRB_Target = target;
    block.SRB_DeviceType = 0x5A;
    return block;
}

class ManagerTest : public SimTest {};

TEST_F(ManagerTest, SupportWordFollowsTheBusUnlessOverridden) {
    EXPECT_EQ(GetASPI32SupportInfo(), 0x0101u);
    SimClearBus(3);
    EXPECT_EQ(GetASPI32SupportInfo(), 0x0103u);
    SimSetSupportWord(0x0405);
    EXPECT_EQ(GetASPI32SupportInfo(), 0x0405u);
    SimClearBus(0);
    EXPECT_EQ(GetASPI32SupportInfo(), 0xE800u);
}

TEST_F(ManagerTest, GetDeviceTypeAnswersOnlyForOccupiedAddresses) {
    auto camera = DeviceTypeBlock(SIM_DEFAULT_ADAPTER, SIM_DEFAULT_TARGET);
    EXPECT_EQ(SendASPI32Command(&camera), tarnscsi::aspi::SS_COMP);
    EXPECT_EQ(camera.SRB_Status, tarnscsi::aspi::SS_COMP);
    EXPECT_EQ(camera.SRB_DeviceType, tarnscsi::camera::kScannerDeviceType);

    for (const std::uint8_t target : {0, 7, 15}) {
        auto empty = DeviceTypeBlock(SIM_DEFAULT_ADAPTER, target);
        EXPECT_EQ(SendASPI32Command(&empty), tarnscsi::aspi::SS_NO_DEVICE);
        EXPECT_EQ(empty.SRB_Status, tarnscsi::aspi::SS_NO_DEVICE);
        EXPECT_EQ(empty.SRB_DeviceType, 0x5A) << "an empty address leaves the field alone";
    }
    auto noAdapter = DeviceTypeBlock(1, SIM_DEFAULT_TARGET);
    EXPECT_EQ(SendASPI32Command(&noAdapter), tarnscsi::aspi::SS_INVALID_HA);
    EXPECT_EQ(noAdapter.SRB_DeviceType, 0x5A);
}

TEST_F(ManagerTest, BlocksThatCannotBeCarriedOutAreRefused) {
    Bytes data(32);
    auto emptyTarget = Block(tarnscsi::camera::kIdentify, data.data(), 32);
    emptyTarget.SRB_Target = 3;
    EXPECT_EQ(Send(emptyTarget), tarnscsi::aspi::SS_ERR);
    EXPECT_EQ(emptyTarget.SRB_HaStat, tarnscsi::aspi::HASTAT_SEL_TO);

    auto noAdapter = Block(tarnscsi::camera::kIdentify, data.data(), 32);
    noAdapter.SRB_HaId = 1;
    EXPECT_EQ(Send(noAdapter), tarnscsi::aspi::SS_INVALID_HA);

    auto noCommandBytes = Block(tarnscsi::camera::kIdentify, data.data(), 32);
    noCommandBytes.SRB_CDBLen = 0;
    EXPECT_EQ(Send(noCommandBytes), tarnscsi::aspi::SS_INVALID_SRB);

    tarnscsi::aspi::SRB_GDEVBlock unknown{};
    unknown.SRB_Cmd = 0x07;
    EXPECT_EQ(SendASPI32Command(&unknown), tarnscsi::aspi::SS_INVALID_CMD);
    EXPECT_EQ(unknown.SRB_Status, tarnscsi::aspi::SS_INVALID_CMD);
}

TEST_F(ManagerTest, TargetsRejectMalformedCommandsWithCheckCondition) {
    struct Case {
        const char* name;
        void (*spoil)(tarnscsi::aspi::SRB_ExecSCSICmd&);
        tarnscsi::scsi::AdditionalSense code;
    };
    const Case cases[] = {
        {"unknown opcode", [](auto& b) { b.CDBByte[0] = 0x03; }, tarnscsi::scsi::kInvalidOpcode},
        {"ten-byte length for a six-byte opcode", [](auto& b) { b.SRB_CDBLen = 10; },
         tarnscsi::scsi::kInvalidFieldInCdb},
        {"write direction on a read", [](auto& b) { b.SRB_Flags = tarnscsi::aspi::SRB_DIR_OUT; },
         tarnscsi::scsi::kInvalidFieldInCdb},
        {"no direction on a read", [](auto& b) { b.SRB_Flags = 0; }, tarnscsi::scsi::kInvalidFieldInCdb},
        {"allocation beyond the buffer", [](auto& b) { b.SRB_BufLen = 31; }, tarnscsi::scsi::kInvalidFieldInCdb},
        {"no buffer", [](auto& b) { b.SRB_BufPointer = nullptr; }, tarnscsi::scsi::kInvalidFieldInCdb},
        {"vital product data", [](auto& b) { b.CDBByte[1] = 1; }, tarnscsi::scsi::kInvalidFieldInCdb},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Bytes data(32, 0xEE);
        auto block = Block(tarnscsi::camera::kIdentify, data.data(), 32);
        k.spoil(block);
        EXPECT_EQ(Send(block), tarnscsi::aspi::SS_ERR);
        ExpectCheckCondition(block, tarnscsi::scsi::SenseKey::kIllegalRequest, k.code);
        EXPECT_EQ(data, Bytes(32, 0xEE));
    }
}

TEST_F(ManagerTest, SenseIsCopiedOnlyUpToTheRequestedLength) {
    for (const std::uint8_t senseLength : {0, 4, 14, 16, 18}) {
        SCOPED_TRACE(senseLength);
        auto block = Block(tarnscsi::camera::kTestUnitReady, nullptr, 0);
        block.CDBByte[0] = 0x03;
        block.SRB_SenseLen = senseLength;
        std::memset(block.SenseArea, 0xEE, sizeof block.SenseArea);
        Send(block);
        for (std::size_t i = 0; i < sizeof block.SenseArea; ++i) {
            if (i >= senseLength) {
                EXPECT_EQ(block.SenseArea[i], 0xEE) << "byte " << i;
            }
        }
        if (senseLength > tarnscsi::scsi::kFixedAscOffset) {
            EXPECT_EQ(block.SenseArea[tarnscsi::scsi::kFixedAscOffset], tarnscsi::scsi::kInvalidOpcode.asc);
        }
    }
}

TEST_F(ManagerTest, PlainDeviceGivesExactlyItsInquiryBytes) {
    const std::uint8_t inquiry[] = {0x06, 0, 2, 2, 31, 0, 0, 0, 'X', 'Y'};
    ASSERT_EQ(SimAddDevice(0, 4, 0, 6, inquiry, sizeof inquiry), 0);
    EXPECT_EQ(SimAddDevice(1, 4, 0, 6, inquiry, sizeof inquiry), -1);
    EXPECT_EQ(SimAddDevice(0, 16, 0, 6, inquiry, sizeof inquiry), -1);
    EXPECT_EQ(SimAddDevice(0, 4, 8, 6, inquiry, sizeof inquiry), -1);

    Bytes data(32, 0xEE);
    auto identify = Block(tarnscsi::camera::kIdentify, data.data(), 32);
    identify.SRB_Target = 4;
    ASSERT_EQ(Send(identify), tarnscsi::aspi::SS_ERR) << "10 bytes of 32 are a short transfer";
    EXPECT_EQ(identify.SRB_HaStat, tarnscsi::aspi::HASTAT_DO_DU);
    EXPECT_TRUE(std::equal(std::begin(inquiry), std::end(inquiry), data.begin()));
    EXPECT_EQ(data[sizeof inquiry], 0xEE);

    auto ready = Block(tarnscsi::camera::kTestUnitReady, nullptr, 0);
    ready.SRB_Target = 4;
    EXPECT_EQ(Send(ready), tarnscsi::aspi::SS_COMP);

    auto getWindow = Block(tarnscsi::camera::kGetWindow, data.data(), 32);
    getWindow.SRB_Target = 4;
    getWindow.CDBByte[8] = 32;
    Send(getWindow);
    ExpectCheckCondition(getWindow, tarnscsi::scsi::SenseKey::kIllegalRequest, tarnscsi::scsi::kInvalidOpcode);
}

// A scripted reply shorter than the block asks for arrives as far as it
// goes, and the block reports the short transfer (data over/underrun).
TEST_F(ManagerTest, ScriptedRepliesReplaceTheModelForTheirCount) {
    const std::uint8_t reply[] = {1, 2, 3, 4, 5};
    SimScriptReply(tarnscsi::camera::opcode::kGetWindow, reply, sizeof reply, 2);
    for (int i = 0; i < 2; ++i) {
        Bytes list(tarnscsi::camera::window::kLength, 0xEE);
        auto block = Block(tarnscsi::camera::kGetWindow, list.data(), tarnscsi::camera::window::kLength);
        ASSERT_EQ(Send(block), tarnscsi::aspi::SS_ERR);
        EXPECT_EQ(block.SRB_HaStat, tarnscsi::aspi::HASTAT_DO_DU);
        EXPECT_EQ(block.SRB_TargStat, tarnscsi::aspi::STATUS_GOOD);
        EXPECT_TRUE(std::equal(std::begin(reply), std::end(reply), list.begin()));
        EXPECT_EQ(list[sizeof reply], 0xEE);
    }
    Bytes list(tarnscsi::camera::window::kLength, 0xEE);
    ASSERT_TRUE(RunCommand(tarnscsi::camera::kGetWindow, list));
    EXPECT_EQ(list[tarnscsi::camera::window::kWindowId], tarnscsi::camera::window::kWindowIdValue);
}

TEST_F(ManagerTest, FaultsHitTheChosenRequestsOnly) {
    SimAddFault(tarnscsi::camera::opcode::kTestUnitReady, 1, 2, SIM_FAULT_REFUSE);
    SimAddFault(SIM_ANY_OPCODE, 4, 1, SIM_FAULT_CHECK_CONDITION);
    const std::uint8_t expected[] = {tarnscsi::aspi::SS_COMP, tarnscsi::aspi::SS_ERR, tarnscsi::aspi::SS_ERR,
                                     tarnscsi::aspi::SS_COMP, tarnscsi::aspi::SS_ERR, tarnscsi::aspi::SS_COMP};
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        auto block = Block(tarnscsi::camera::kTestUnitReady, nullptr, 0);
        EXPECT_EQ(Send(block), expected[i]) << "request " << i + 1;
        if (i == 4) {
            ExpectCheckCondition(block, tarnscsi::scsi::SenseKey::kAbortedCommand, {0, 0});
        } else if (expected[i] == tarnscsi::aspi::SS_ERR) {
            EXPECT_EQ(block.SRB_TargStat, tarnscsi::aspi::STATUS_GOOD) << "a refused request never reached the target";
        }
    }
}

TEST_F(ManagerTest, RefusedAndFailedRequestsChangeNothingOnTheCamera) {
    SimAddFault(tarnscsi::camera::opcode::kSetWindow, 0, 1, SIM_FAULT_REFUSE);
    SimAddFault(tarnscsi::camera::opcode::kSetWindow, 1, 1, SIM_FAULT_CHECK_CONDITION);
    for (int i = 0; i < 2; ++i) {
        Bytes list = WindowList({0, 0, 2, 2, false, 0});
        EXPECT_FALSE(RunCommand(tarnscsi::camera::kSetWindow, list));
    }
    Bytes reported(tarnscsi::camera::window::kLength);
    ASSERT_TRUE(RunCommand(tarnscsi::camera::kGetWindow, reported));
    EXPECT_EQ(reported, WindowList({}));
}

TEST_F(ManagerTest, LogRecordsEachBlockAsItArrivedAndHowItEnded) {
    auto gdev = DeviceTypeBlock(SIM_DEFAULT_ADAPTER, SIM_DEFAULT_TARGET);
    SendASPI32Command(&gdev);
    Bytes list = WindowList({});
    auto block = Block(tarnscsi::camera::kSetWindow, list.data(), tarnscsi::camera::window::kLength);
    block.SRB_Flags |= tarnscsi::aspi::SRB_EVENT_NOTIFY;
    block.SRB_PostProc = reinterpret_cast<void*>(std::uintptr_t{42});
    Send(block);

    ASSERT_EQ(SimLogCount(), 2u);
    SimRequest entry{};
    ASSERT_EQ(SimLogGet(0, &entry), 0);
    EXPECT_EQ(entry.command, tarnscsi::aspi::SC_GET_DEV_TYPE);
    EXPECT_EQ(entry.target, SIM_DEFAULT_TARGET);
    EXPECT_EQ(entry.deviceTypeIn, 0x5A);
    EXPECT_EQ(entry.returned, tarnscsi::aspi::SS_COMP);

    ASSERT_EQ(SimLogGet(1, &entry), 0);
    EXPECT_EQ(entry.command, tarnscsi::aspi::SC_EXEC_SCSI_CMD);
    EXPECT_EQ(entry.flags, tarnscsi::aspi::SRB_DIR_OUT | tarnscsi::aspi::SRB_EVENT_NOTIFY);
    EXPECT_EQ(entry.cdbLength, 10);
    EXPECT_EQ(entry.senseLength, tarnscsi::aspi::SENSE_LEN);
    EXPECT_EQ(entry.cdb[0], tarnscsi::camera::opcode::kSetWindow);
    EXPECT_EQ(entry.postProc, 42u);
    EXPECT_EQ(entry.hadBuffer, 1);
    EXPECT_EQ(entry.bufferLength, tarnscsi::camera::window::kLength);
    EXPECT_EQ(entry.dataOutLength, tarnscsi::camera::window::kLength);
    EXPECT_TRUE(std::equal(list.begin(), list.end(), entry.dataOut));
    EXPECT_EQ(entry.returned, tarnscsi::aspi::SS_COMP);
    EXPECT_EQ(entry.finalStatus, tarnscsi::aspi::SS_COMP);
    EXPECT_EQ(entry.transferred, tarnscsi::camera::window::kLength);

    EXPECT_EQ(SimLogGet(2, &entry), -1);
    SimLogClear();
    EXPECT_EQ(SimLogCount(), 0u);
}

}  // namespace
}  // namespace tarnscsi::simtest