#include "core/scsi_outcome.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "aspi.h"

namespace tarnscsi::manager {

ScsiOutcome GoodOutcome(std::uint32_t transferred) {
    ScsiOutcome outcome;
    outcome.srbStatus = tarnscsi::aspi::SS_COMP;
    outcome.hostStatus = tarnscsi::aspi::HASTAT_OK;
    outcome.targetStatus = tarnscsi::aspi::STATUS_GOOD;
    outcome.transferred = transferred;
    return outcome;
}

ScsiOutcome CheckConditionOutcome(tarnscsi::scsi::SenseKey key, tarnscsi::scsi::AdditionalSense code) {
    ScsiOutcome outcome;
    outcome.srbStatus = tarnscsi::aspi::SS_ERR;
    outcome.hostStatus = tarnscsi::aspi::HASTAT_OK;
    outcome.targetStatus = tarnscsi::aspi::STATUS_CHKCOND;
    outcome.sense[tarnscsi::scsi::kResponseOffset] = tarnscsi::scsi::kFixedCurrent;
    outcome.sense[tarnscsi::scsi::kFixedKeyOffset] = static_cast<std::uint8_t>(key);
    outcome.sense[tarnscsi::scsi::kFixedAdditionalLengthOffset] = tarnscsi::scsi::kFixedAdditionalLength;
    outcome.sense[tarnscsi::scsi::kFixedAscOffset] = code.asc;
    outcome.sense[tarnscsi::scsi::kFixedAscqOffset] = code.ascq;
    outcome.senseLength = static_cast<std::uint8_t>(tarnscsi::scsi::kFixedSenseLength);
    return outcome;
}

ScsiOutcome SelectionTimeoutOutcome() {
    ScsiOutcome outcome;
    outcome.srbStatus = tarnscsi::aspi::SS_ERR;
    outcome.hostStatus = tarnscsi::aspi::HASTAT_SEL_TO;
    outcome.targetStatus = tarnscsi::aspi::STATUS_GOOD;
    return outcome;
}

ScsiOutcome ExecutedShort(Backend& backend, const ScsiCommand& command) {
    if (command.direction != tarnscsi::aspi::SRB_DIR_IN || command.buffer == nullptr || command.bufferLength == 0) {
        return backend.Execute(command);
    }
    // The target fills a buffer of its own; only what "arrived" is copied.
    std::vector<std::uint8_t> sent(command.bufferLength);
    ScsiCommand diverted = command;
    diverted.buffer = sent.data();
    ScsiOutcome outcome = backend.Execute(diverted);
    if (outcome.srbStatus == tarnscsi::aspi::SS_COMP) {
        outcome.transferred /= 2;
    }
    std::memcpy(command.buffer, sent.data(), std::min<std::size_t>(outcome.transferred, sent.size()));
    return outcome;
}

ScsiOutcome CommandTimeoutOutcome() {
    ScsiOutcome outcome = SelectionTimeoutOutcome();
    outcome.hostStatus = tarnscsi::aspi::HASTAT_COMMAND_TIMEOUT;
    return outcome;
}

}  // namespace tarnscsi::manager
