// Every SCSI command the module sends the camera, in one table: the command
// bytes, their length, the data direction and the data length. Camera
// operations take their bytes from here and nowhere else.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "transport/aspi.h"

namespace tarnscsi::camera {

struct CommandSpec {
    std::array<std::uint8_t, 10> cdb;  // command bytes; unused tail is zero
    std::uint8_t cdbLength;            // 6 or 10
    std::uint8_t direction;            // tarnscsi::aspi::SRB_DIR_IN or tarnscsi::aspi::SRB_DIR_OUT
    std::uint32_t dataLength;          // bytes of parameter or image data
};

// SCSI operation codes of the scanner device class that the camera speaks.
namespace opcode {
inline constexpr std::uint8_t kTestUnitReady = 0x00;
inline constexpr std::uint8_t kInquiry = 0x12;
inline constexpr std::uint8_t kModeSelect6 = 0x15;
inline constexpr std::uint8_t kScan = 0x1B;
inline constexpr std::uint8_t kModeSense6 = 0x1A;
inline constexpr std::uint8_t kSetWindow = 0x24;
inline constexpr std::uint8_t kGetWindow = 0x25;
inline constexpr std::uint8_t kRead10 = 0x28;
}  // namespace opcode

// The names people and the trace know each command by.
struct OpcodeName {
    std::uint8_t opcode;
    const char* name;
};
inline constexpr OpcodeName kCommandNames[] = {
    {opcode::kTestUnitReady, "TEST UNIT READY"}, {opcode::kInquiry, "INQUIRY"},
    {opcode::kModeSelect6, "MODE SELECT(6)"},    {opcode::kScan, "SCAN"},
    {opcode::kModeSense6, "MODE SENSE(6)"},      {opcode::kSetWindow, "SET WINDOW"},
    {opcode::kGetWindow, "GET WINDOW"},          {opcode::kRead10, "READ(10)"},
};

// Peripheral device type the camera reports: scanner.
inline constexpr std::uint8_t kScannerDeviceType = 6;

using tarnscsi::aspi::SRB_DIR_IN;
using tarnscsi::aspi::SRB_DIR_OUT;

// INQUIRY, allocation length 32.
inline constexpr CommandSpec kIdentify{{opcode::kInquiry, 0x00, 0x00, 0x00, 0x20, 0x00}, 6, SRB_DIR_IN, 32};
// MODE SELECT(6) with the page-format bit, parameter list length 144.
inline constexpr CommandSpec kWriteCoolingPage{
    {opcode::kModeSelect6, 0x10, 0x00, 0x00, 0x90, 0x00}, 6, SRB_DIR_OUT, 144};
// MODE SENSE(6), block descriptors disabled, current values of page 09, allocation length 144.
inline constexpr CommandSpec kReadCoolingPage{{opcode::kModeSense6, 0x08, 0x09, 0x00, 0x90, 0x00}, 6, SRB_DIR_IN, 144};
// SET WINDOW, transfer length 78 in bytes 6..8.
inline constexpr CommandSpec kSetWindow{
    {opcode::kSetWindow, 0, 0, 0, 0, 0, 0x00, 0x00, 0x4E, 0x00}, 10, SRB_DIR_OUT, 78};
// SCAN of one window; the one data byte is the window identifier list.
inline constexpr CommandSpec kStartScan{{opcode::kScan, 0x00, 0x00, 0x00, 0x01, 0x00}, 6, SRB_DIR_OUT, 1};
// GET WINDOW, transfer length 78.
inline constexpr CommandSpec kGetWindow{
    {opcode::kGetWindow, 0, 0, 0, 0, 0, 0x00, 0x00, 0x4E, 0x00}, 10, SRB_DIR_IN, 78};
// READ(10); the transfer length of each read goes into bytes 7..8.
inline constexpr CommandSpec kReadImage{{opcode::kRead10, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x00}, 10, SRB_DIR_IN, 0};
inline constexpr std::size_t kReadLengthOffset = 7;
inline constexpr std::uint32_t kMaxReadLength = 2048;
// TEST UNIT READY: byte 4 carries 0x90; flagged as a read although no data move.
inline constexpr CommandSpec kTestUnitReady{{opcode::kTestUnitReady, 0x00, 0x00, 0x00, 0x90, 0x00}, 6, SRB_DIR_IN, 0};

// INQUIRY of the standard 36 bytes, for a look at any device on the bus:
// vendor, product and revision.
inline constexpr CommandSpec kInquireStandard{{opcode::kInquiry, 0x00, 0x00, 0x00, 0x24, 0x00}, 6, SRB_DIR_IN, 36};

// Standard INQUIRY data: peripheral device type in the low five bits of
// byte 0, then vendor (8..15), product (16..31) and revision (32..35).
inline constexpr std::uint8_t kDeviceTypeMask = 0x1F;
inline constexpr std::size_t kInquiryVendorOffset = 8;
inline constexpr std::size_t kInquiryRevisionOffset = 32;
inline constexpr std::size_t kInquiryStandardLength = 36;

// INQUIRY identification: the product identification starts at byte 16 and
// the camera is recognised by its first five characters.
inline constexpr std::size_t kInquiryProductOffset = 16;
inline constexpr char kProductName[] = "Nebrix";
inline constexpr std::size_t kProductMatchLength = 5;

// The module's rule for what is the camera: a scanner whose INQUIRY product
// identification starts with the first five characters of the name. The
// discovery and the bus scan both decide by it.
bool IsCamera(std::uint8_t deviceType, const std::uint8_t* inquiry);

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