// A command of the camera's table wrapped in an ASPI execute-command block:
// the module's half of carrying a command, which a camera never sees.
#pragma once

#include <cstdint>
#include <cstring>

#include "aspi.h"
#include "camera_commands.h"

namespace tarnscsi::camera {

// An execute-command block for one command of the table at (adapter,
// target, logical unit 0), moving `length` bytes to or from `data`; the
// transport fills in the rest.
inline tarnscsi::aspi::SRB_ExecSCSICmd BuildRequest(const CommandSpec& command, std::uint8_t* data,
                                                    std::uint32_t length, std::uint8_t adapter, std::uint8_t target) {
    tarnscsi::aspi::SRB_ExecSCSICmd block{};
    block.SRB_HaId = adapter;
    block.SRB_Target = target;
    block.SRB_Flags = command.direction;
    block.SRB_BufLen = length;
    block.SRB_BufPointer = data;
    block.SRB_CDBLen = command.cdbLength;
    // The table's unused tail is zero, so the whole array can go at once.
    static_assert(sizeof command.cdb <= sizeof block.CDBByte);
    std::memcpy(block.CDBByte, command.cdb.data(), command.cdb.size());
    return block;
}

}  // namespace tarnscsi::camera
