#include "manager/scsi_outcome.h"

#include "transport/aspi.h"

namespace aspi_mgr {

ScsiOutcome GoodOutcome(std::uint32_t transferred) {
    ScsiOutcome outcome;
    outcome.srbStatus = aspi::SS_COMP;
    outcome.hostStatus = aspi::HASTAT_OK;
    outcome.targetStatus = aspi::STATUS_GOOD;
    outcome.transferred = transferred;
    return outcome;
}

ScsiOutcome CheckConditionOutcome(scsi::SenseKey key, scsi::AdditionalSense code) {
    ScsiOutcome outcome;
    outcome.srbStatus = aspi::SS_ERR;
    outcome.hostStatus = aspi::HASTAT_OK;
    outcome.targetStatus = aspi::STATUS_CHKCOND;
    outcome.sense[scsi::kSenseResponseOffset] = scsi::kSenseResponseCurrent;
    outcome.sense[scsi::kSenseKeyOffset] = static_cast<std::uint8_t>(key);
    outcome.sense[scsi::kSenseAdditionalLengthOffset] = scsi::kSenseAdditionalLength;
    outcome.sense[scsi::kSenseAscOffset] = code.asc;
    outcome.sense[scsi::kSenseAscqOffset] = code.ascq;
    outcome.senseLength = static_cast<std::uint8_t>(scsi::kFixedSenseLength);
    return outcome;
}

ScsiOutcome SelectionTimeoutOutcome() {
    ScsiOutcome outcome;
    outcome.srbStatus = aspi::SS_ERR;
    outcome.hostStatus = aspi::HASTAT_SEL_TO;
    outcome.targetStatus = aspi::STATUS_GOOD;
    return outcome;
}

}  // namespace aspi_mgr
