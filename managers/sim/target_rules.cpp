#include "sim/target_rules.h"

#include <algorithm>
#include <cstring>

#include "core/scsi_outcome.h"
#include "sim/cdb.h"
#include "aspi.h"

namespace tarnscsi::sim {
namespace {

bool DirectionFits(std::uint8_t direction, DataPhase phase) {
    switch (phase) {
        case DataPhase::kNone: return direction == 0 || direction == tarnscsi::aspi::SRB_DIR_IN;
        case DataPhase::kIn: return direction == tarnscsi::aspi::SRB_DIR_IN;
        case DataPhase::kOut: return direction == tarnscsi::aspi::SRB_DIR_OUT;
    }
    return false;
}

}  // namespace

std::optional<ScsiOutcome> CheckTransfer(const ScsiCommand& command, DataPhase phase, std::uint32_t length,
                                         cdb::Field lengthField) {
    // A wrong CDB length or direction is in no field of the command.
    if (command.cdbLength != cdb::ExpectedLength(command.cdb[cdb::kOpcode]) ||
        !DirectionFits(command.direction, phase)) {
        return IllegalRequest(tarnscsi::scsi::kInvalidFieldInCdb);
    }
    const bool fits = length <= command.bufferLength && (length == 0 || command.buffer != nullptr);
    if (!fits) {
        return IllegalRequest(tarnscsi::scsi::kInvalidFieldInCdb,
                              lengthField.length != 0 ? std::optional(CdbField(lengthField.offset)) : std::nullopt);
    }
    return std::nullopt;
}

ScsiOutcome IllegalRequest(tarnscsi::scsi::AdditionalSense code, std::optional<FieldInError> field) {
    ScsiOutcome outcome = tarnscsi::manager::CheckConditionOutcome(tarnscsi::scsi::SenseKey::kIllegalRequest, code);
    if (field) {
        SetFieldPointer(outcome, *field);
    }
    return outcome;
}

ScsiOutcome DataIn(const ScsiCommand& command, const std::uint8_t* data, std::uint32_t available,
                   std::uint32_t allocation) {
    const std::uint32_t count = std::min({available, allocation, command.bufferLength});
    if (count > 0) {
        if (command.buffer == nullptr) {
            return IllegalRequest(tarnscsi::scsi::kInvalidFieldInCdb);  // no buffer: no field to blame
        }
        std::memcpy(command.buffer, data, count);
    }
    return tarnscsi::manager::GoodOutcome(count);
}

}  // namespace tarnscsi::sim