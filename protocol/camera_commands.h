// Every SCSI command the module sends the camera, in one table: the command
// bytes, their length, the data direction and the data length. Camera
// operations take their bytes from here and nowhere else. The direction is
// written in the ASPI request block's flags, the contract every carrier of
// these commands is written against.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "aspi.h"
#include "camera_identity.h"
#include "cooling_page.h"
#include "window_layout.h"

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

using tarnscsi::aspi::SRB_DIR_IN;
using tarnscsi::aspi::SRB_DIR_OUT;

// The two command shapes the camera uses, each with its one length field
// filled from the command's data length, so a length is written once.
// Six bytes: allocation, parameter list or transfer length in byte 4.
consteval CommandSpec Command6(std::uint8_t code, std::uint8_t byte1, std::uint8_t byte2, std::uint8_t direction,
                               std::uint32_t dataLength) {
    if (dataLength > 0xFF) throw "a 6-byte command carries a length of one byte";
    return {{code, byte1, byte2, 0x00, static_cast<std::uint8_t>(dataLength), 0x00}, 6, direction, dataLength};
}
// Ten bytes: transfer length in bytes 6..8, most significant first.
consteval CommandSpec Command10(std::uint8_t code, std::uint8_t direction, std::uint32_t dataLength) {
    if (dataLength > 0xFFFFFF) throw "a 10-byte window command carries a length of three bytes";
    return {{code, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(dataLength >> 16),
             static_cast<std::uint8_t>(dataLength >> 8), static_cast<std::uint8_t>(dataLength), 0x00},
            10,
            direction,
            dataLength};
}

// The camera's own identification: the first 32 bytes of INQUIRY data.
inline constexpr std::uint32_t kIdentifyLength = 32;

inline constexpr CommandSpec kIdentify = Command6(opcode::kInquiry, 0x00, 0x00, SRB_DIR_IN, kIdentifyLength);
// MODE SELECT(6) with the page-format bit, the whole cooling list.
inline constexpr std::uint8_t kPageFormat = 0x10;
inline constexpr CommandSpec kWriteCoolingPage =
    Command6(opcode::kModeSelect6, kPageFormat, 0x00, SRB_DIR_OUT, cooling::kLength);
// MODE SENSE(6), block descriptors disabled, current values of the cooling page.
inline constexpr std::uint8_t kDisableBlockDescriptors = 0x08;
inline constexpr CommandSpec kReadCoolingPage =
    Command6(opcode::kModeSense6, kDisableBlockDescriptors, cooling::kPageCodeValue, SRB_DIR_IN, cooling::kLength);
// SET WINDOW and GET WINDOW move the whole window list.
inline constexpr CommandSpec kSetWindow = Command10(opcode::kSetWindow, SRB_DIR_OUT, window::kLength);
inline constexpr CommandSpec kGetWindow = Command10(opcode::kGetWindow, SRB_DIR_IN, window::kLength);
// SCAN of one window; the one data byte is the window identifier list.
inline constexpr CommandSpec kStartScan = Command6(opcode::kScan, 0x00, 0x00, SRB_DIR_OUT, 1);
// READ(10); the transfer length of each read goes into bytes 7..8.
inline constexpr CommandSpec kReadImage{{opcode::kRead10, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x00}, 10, SRB_DIR_IN, 0};
inline constexpr std::size_t kReadLengthOffset = 7;
inline constexpr std::uint32_t kMaxReadLength = 2048;
// TEST UNIT READY: byte 4 carries 0x90, which the camera expects there;
// flagged as a read although no data move.
inline constexpr std::uint8_t kTestUnitReadyByte4 = 0x90;
inline constexpr CommandSpec kTestUnitReady{
    {opcode::kTestUnitReady, 0x00, 0x00, 0x00, kTestUnitReadyByte4, 0x00}, 6, SRB_DIR_IN, 0};

// How much of a data-in reply the module reads. SCSI lets a target answer
// a command with an allocation length (INQUIRY, GET WINDOW, MODE SENSE) with
// fewer bytes than allocated; a reply that covers every byte the module
// reads of it is complete. Every other reply (each READ(10) above all) must
// fill the buffer it was given. Our managers judge a short transfer by this.
struct ReplyUse {
    std::uint8_t opcode;
    std::uint32_t bytesRead;
};
inline constexpr ReplyUse kRepliesReadInPart[] = {
    {opcode::kInquiry, kIdentifyBytesRead},
    {opcode::kGetWindow, window::kBytesRead},
    {opcode::kModeSense6, cooling::kBytesRead},
};

// The bytes of a reply to the command whose operation code is `code`, into a
// buffer of `bufferLength`, that must have arrived for it to be complete.
constexpr std::uint32_t BytesNeeded(std::uint8_t code, std::uint32_t bufferLength) {
    for (const ReplyUse& use : kRepliesReadInPart) {
        if (use.opcode == code) return use.bytesRead < bufferLength ? use.bytesRead : bufferLength;
    }
    return bufferLength;
}

// INQUIRY of the standard 36 bytes, for a look at any device on the bus:
// vendor, product and revision.
inline constexpr CommandSpec kInquireStandard =
    Command6(opcode::kInquiry, 0x00, 0x00, SRB_DIR_IN, kInquiryStandardLength);

}  // namespace tarnscsi::camera
