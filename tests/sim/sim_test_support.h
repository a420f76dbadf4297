// Hand-built request blocks for driving the simulator directly, the way a
// module would, plus readers for what came back.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "camera_commands.h"
#include "camera_identity.h"
#include "core/aspi_entry.h"
#include "scsi_sense.h"
#include "sim/sim_control.h"
#include "aspi.h"

namespace tarnscsi::simtest {

// Every test starts and ends on the default bus.
class SimTest : public ::testing::Test {
protected:
    void SetUp() override { SimReset(); }
    void TearDown() override { SimReset(); }
};

// An execute block for `command` to the default camera, with the direction,
// lengths and bytes of the module's command table and sense length 14.
tarnscsi::aspi::SRB_ExecSCSICmd Block(const tarnscsi::camera::CommandSpec& command, std::uint8_t* buffer,
                                      std::uint32_t bufferLength);

// Sends the block; returns what SendASPI32Command returned.
std::uint32_t Send(tarnscsi::aspi::SRB_ExecSCSICmd& block);

// Sends `command` with `data` as its buffer (sized to the data); true on SS_COMP.
bool RunCommand(const tarnscsi::camera::CommandSpec& command, std::vector<std::uint8_t>& data);

// Expects CHECK CONDITION with this sense key and code.
void ExpectCheckCondition(const tarnscsi::aspi::SRB_ExecSCSICmd& block, tarnscsi::scsi::SenseKey key,
                          tarnscsi::scsi::AdditionalSense code);

// A window list the camera accepts, built field by field.
struct WindowFields {
    std::int32_t originX = 0;
    std::int32_t originY = 0;
    std::int32_t width = 768;
    std::int32_t height = 512;
    bool binned = false;
    std::uint32_t exposureMs = 0;
};
std::vector<std::uint8_t> WindowList(const WindowFields& fields);

// A cooling list as the module writes it.
std::vector<std::uint8_t> CoolingList(std::int16_t setpoint);

}  // namespace tarnscsi::simtest