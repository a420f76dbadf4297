// The usual endings of a SCSI command, built in one place so that every
// target reports them the same way.
#pragma once

#include <cstdint>

#include "core/backend.h"
#include "scsi_sense.h"

namespace tarnscsi::manager {

// GOOD status after moving `transferred` data bytes.
ScsiOutcome GoodOutcome(std::uint32_t transferred);

// CHECK CONDITION with fixed-format sense data; no data moved.
ScsiOutcome CheckConditionOutcome(tarnscsi::scsi::SenseKey key, tarnscsi::scsi::AdditionalSense code);

// Nothing answered the selection.
ScsiOutcome SelectionTimeoutOutcome();

// The target was selected but did not finish within the time limit.
ScsiOutcome CommandTimeoutOutcome();

}  // namespace tarnscsi::manager