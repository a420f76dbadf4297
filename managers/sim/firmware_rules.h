// The simulated camera's firmware: the commands it carries out, each written
// as the command bytes it accepts, as the camera's own documentation gives
// them. These rules are the camera's, not the module's: a module that sends
// a byte the camera does not expect is refused here, as a real camera would.
#pragma once

#include <array>
#include <cstdint>

#include "sim/cdb.h"
#include "sim/target_rules.h"

namespace tarnscsi::sim {

// Operation codes the camera knows (the scanner device class's).
namespace opcode {
inline constexpr std::uint8_t kTestUnitReady = 0x00;
inline constexpr std::uint8_t kInquiry = 0x12;
inline constexpr std::uint8_t kModeSelect6 = 0x15;
inline constexpr std::uint8_t kModeSense6 = 0x1A;
inline constexpr std::uint8_t kScan = 0x1B;
inline constexpr std::uint8_t kSetWindow = 0x24;
inline constexpr std::uint8_t kGetWindow = 0x25;
inline constexpr std::uint8_t kRead10 = 0x28;
}  // namespace opcode

// The peripheral device type the camera reports: scanner.
inline constexpr std::uint8_t kCameraDeviceType = 0x06;

// One command as the camera reads it: every CDB byte must equal `bytes`
// except the initiator's own field `chosen` (an allocation or transfer
// length, which then gives the data length; for TEST UNIT READY a byte the
// camera ignores), whose value in `bytes` is not compared. A command without
// such a field moves the length its bytes carry.
struct CdbRule {
    std::array<std::uint8_t, 10> bytes;
    std::uint8_t length;  // of the CDB: 6 or 10
    DataPhase phase;
    cdb::Field chosen;
};

namespace firmware {

// TEST UNIT READY. Byte 4 carries 0x90 by custom; the camera ignores it.
inline constexpr CdbRule kTestUnitReady{{0x00, 0x00, 0x00, 0x00, 0x90, 0x00}, 6, DataPhase::kNone, cdb::kLengthOf6Byte};
// INQUIRY, standard data, any allocation length.
inline constexpr CdbRule kInquiry{{0x12, 0x00, 0x00, 0x00, 0x00, 0x00}, 6, DataPhase::kIn, cdb::kLengthOf6Byte};
// MODE SELECT(6), page format, the whole cooling list of 144 (0x90) bytes.
inline constexpr CdbRule kModeSelect{{0x15, 0x10, 0x00, 0x00, 0x90, 0x00}, 6, DataPhase::kOut, cdb::kNoField};
// MODE SENSE(6), block descriptors disabled, page 09, any allocation length.
inline constexpr CdbRule kModeSense{{0x1A, 0x08, 0x09, 0x00, 0x00, 0x00}, 6, DataPhase::kIn, cdb::kLengthOf6Byte};
// SET WINDOW, the whole window list of 78 (0x4E) bytes.
inline constexpr CdbRule kSetWindow{
    {0x24, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x4E, 0x00}, 10, DataPhase::kOut, cdb::kNoField};
// SCAN of one window: one byte, the window identifier list.
inline constexpr CdbRule kScan{{0x1B, 0x00, 0x00, 0x00, 0x01, 0x00}, 6, DataPhase::kOut, cdb::kNoField};
// GET WINDOW, any transfer length.
inline constexpr CdbRule kGetWindow{
    {0x25, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 10, DataPhase::kIn, cdb::kLengthOf10Byte};
// READ(10) of image data, any transfer length.
inline constexpr CdbRule kRead{
    {0x28, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 10, DataPhase::kIn, cdb::kLengthOf10Byte};

// Each rule starts with its opcode and is as long as the opcode's group says.
constexpr bool Consistent(const CdbRule& rule, std::uint8_t code) {
    return rule.bytes[cdb::kOpcode] == code && rule.length == cdb::ExpectedLength(code);
}
static_assert(Consistent(kTestUnitReady, opcode::kTestUnitReady) && Consistent(kInquiry, opcode::kInquiry) &&
              Consistent(kModeSelect, opcode::kModeSelect6) && Consistent(kModeSense, opcode::kModeSense6) &&
              Consistent(kSetWindow, opcode::kSetWindow) && Consistent(kScan, opcode::kScan) &&
              Consistent(kGetWindow, opcode::kGetWindow) && Consistent(kRead, opcode::kRead10));

}  // namespace firmware

// The data length a command of this rule moves: none without a data phase,
// else the initiator's chosen field, else the length the rule's bytes carry.
constexpr std::uint32_t DataLength(const CdbRule& rule, const std::uint8_t* cdbBytes) {
    if (rule.phase == DataPhase::kNone) {
        return 0;
    }
    return rule.chosen.length != 0 ? cdb::Read(cdbBytes, rule.chosen) : cdb::AllocationLength(rule.bytes.data());
}

}  // namespace tarnscsi::sim
