// A manager whose SendASPI32Command, for a request it finishes at once,
// returns the opposite of the SRB_Status it leaves (tests/managers/): the
// module must judge every command by SRB_Status alone. A command that
// completed is a success though the manager returned an error, and one that
// failed is a failure though it returned SS_COMP.
#include <functional>
#include <string>
#include <vector>

#include "core/aspi_entry.h"
#include "support/module_fixture.h"

using namespace tarnscsi::testing_support;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kReadyOpcode = 0x00;

struct Sent {
    std::uint32_t returned;
    std::uint8_t srbStatus;
};

// TEST UNIT READY to the default camera, straight to the manager.
Sent SendReady() {
    tarnscsi::aspi::SRB_ExecSCSICmd block{};
    block.SRB_Cmd = tarnscsi::aspi::SC_EXEC_SCSI_CMD;
    block.SRB_HaId = SIM_DEFAULT_ADAPTER;
    block.SRB_Target = SIM_DEFAULT_TARGET;
    block.SRB_Flags = tarnscsi::aspi::SRB_DIR_IN;
    block.SRB_SenseLen = tarnscsi::aspi::SENSE_LEN;
    block.SRB_CDBLen = 6;
    block.CDBByte[4] = 0x90;
    const std::uint32_t returned = SendASPI32Command(&block);
    return {returned, block.SRB_Status};
}

}  // namespace

using FlippedStatusTest = ModuleTest;

TEST_F(FlippedStatusTest, TheManagerReturnsTheOppositeOfSrbStatus) {
    // Without this the tests below would prove nothing.
    const Sent good = SendReady();
    EXPECT_EQ(good.srbStatus, tarnscsi::aspi::SS_COMP);
    EXPECT_EQ(good.returned, tarnscsi::aspi::SS_ERR);
    SimAddFault(kReadyOpcode, 0, 1, SIM_FAULT_CHECK_CONDITION);
    const Sent failed = SendReady();
    EXPECT_EQ(failed.srbStatus, tarnscsi::aspi::SS_ERR);
    EXPECT_EQ(failed.returned, tarnscsi::aspi::SS_COMP);
}

TEST_F(FlippedStatusTest, CommandsThatCompleteSucceedThoughTheManagerReturnsAnError) {
    ConnectOk();
    TakeACheckedImage();
}

TEST_F(FlippedStatusTest, CommandsThatFailAreFailuresThoughTheManagerReturnsSuccess) {
    ConnectOk();
    ASSERT_EQ(Expose(0, 0, 0, 32, 32, 0, 0), 1);
    struct Case {
        const char* what;
        int opcode;
        std::function<void()> expectFailure;
    };
    const Case cases[] = {
        {"SetTemperature", 0x15, [] { EXPECT_EQ(SetTemperature(-100), 0); }},
        {"Ready", kReadyOpcode, [] { EXPECT_EQ(Ready(), 0); }},
        {"GetCoolingInfo", 0x1A,
         [] {
             int32_t cooling = 77;
             EXPECT_EQ(GetCoolingInfo(&cooling), TARNSCSI_NO_READING);
             EXPECT_EQ(cooling, 77);
         }},
        {"Download, window", 0x25,
         [] {
             Bytes image(32 * 32 * 2, 0xAA);
             EXPECT_EQ(Download(image.data()), 0);
             EXPECT_EQ(image, Bytes(32 * 32 * 2, 0xAA));
             EXPECT_EQ(ExecRequests(0x28).size(), 0u);
         }},
        {"Download, image", 0x28,
         [] {
             Bytes image(32 * 32 * 2);
             EXPECT_EQ(Download(image.data()), 0);
         }},
        {"Expose", 0x24,
         [] {
             EXPECT_EQ(Expose(0, 0, 0, 32, 32, 0, 0), 0);
             EXPECT_EQ(ExecRequests(0x1B).size(), 0u) << "SCAN after a refused window";
         }},
    };
    for (const Case& c : cases) {
        for (int kind : {SIM_FAULT_CHECK_CONDITION, SIM_FAULT_REFUSE}) {
            SCOPED_TRACE(std::string(c.what) + (kind == SIM_FAULT_REFUSE ? ", refused" : ", check condition"));
            SimLogClear();
            SimAddFault(c.opcode, 0, 1, kind);
            c.expectFailure();
        }
    }
}

TEST_F(FlippedStatusTest, AFailedIdentifyIsNoCamera) {
    SimAddFault(0x12, 0, 1, SIM_FAULT_CHECK_CONDITION);
    const char* error = nullptr;
    EXPECT_EQ(Connect(&error), 0);
    EXPECT_STREQ(error, "Camera not found");
    ConnectOk();
}
