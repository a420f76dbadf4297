#include "core/scsi_outcome.h"

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

ScsiOutcome CommandTimeoutOutcome() {
    ScsiOutcome outcome = SelectionTimeoutOutcome();
    outcome.hostStatus = tarnscsi::aspi::HASTAT_COMMAND_TIMEOUT;
    return outcome;
}

}  // namespace tarnscsi::manager