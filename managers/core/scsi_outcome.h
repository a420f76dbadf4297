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

// The command carried out by `backend`, but for a data-in command that ends
// well only the first half of the bytes the target sent reach the buffer
// (the rest of it stays as it was), as when an adapter or cable loses the
// end of a data phase. Other commands are carried out as usual.
ScsiOutcome ExecutedShort(Backend& backend, const ScsiCommand& command);
// The target was selected but did not finish within the time limit.
ScsiOutcome CommandTimeoutOutcome();

}  // namespace tarnscsi::manager