// What every well-behaved simulated target checks before it looks at a
// command's own fields, and the replies all of them give the same way.
#pragma once

#include <cstdint>
#include <optional>

#include "core/backend.h"
#include "scsi_sense.h"
#include "sim/cdb.h"
#include "sim/field_pointer.h"

namespace tarnscsi::sim {

using tarnscsi::manager::ScsiCommand;
using tarnscsi::manager::ScsiOutcome;

// Which way data move in a command's data phase.
enum class DataPhase {
    kNone,  // no data; the direction flag may say "in" or nothing
    kIn,    // target to initiator: SRB_DIR_IN
    kOut,   // initiator to target: SRB_DIR_OUT
};

// Checks that the CDB length fits the opcode's group, the direction flag the
// data phase, and that `length` bytes fit the buffer (which must exist when
// data move). Returns the CHECK CONDITION to end the command with, if any;
// a length that does not fit points at `lengthField` when the command has
// one.
std::optional<ScsiOutcome> CheckTransfer(const ScsiCommand& command, DataPhase phase, std::uint32_t length,
                                         cdb::Field lengthField = cdb::kNoField);

// CHECK CONDITION, ILLEGAL REQUEST with this code, and the field in error
// when there is one to point at.
ScsiOutcome IllegalRequest(tarnscsi::scsi::AdditionalSense code, std::optional<FieldInError> field = std::nullopt);

// Moves min(available, allocation, buffer length) bytes of `data` to the
// initiator and ends GOOD. The rest of the buffer is left as it was.
ScsiOutcome DataIn(const ScsiCommand& command, const std::uint8_t* data, std::uint32_t available,
                   std::uint32_t allocation);

}  // namespace tarnscsi::sim