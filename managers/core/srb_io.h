// Reading the command out of a request block, and writing a command's
// outcome back into it.
#pragma once

#include "core/backend.h"
#include "core/srb_blocks.h"
#include "aspi.h"

namespace tarnscsi::manager {

// Largest command-descriptor block a request block can carry.
inline constexpr tarnscsi::aspi::BYTE kMaxCdbLength = 16;

// The command a well-formed execute block asks for.
ScsiCommand CommandOf(tarnscsi::aspi::SRB_ExecSCSICmd& block);

// Fills host status, target status and (on CHECK CONDITION) sense data up to
// SRB_SenseLen, then SRB_Status last, so that whoever sees the final status
// also sees everything else.
void ApplyOutcome(tarnscsi::aspi::SRB_ExecSCSICmd& block, const ScsiOutcome& outcome);

// Sets SRB_Status so that other threads see it after every earlier write.
void PublishStatus(tarnscsi::aspi::BYTE& status, tarnscsi::aspi::BYTE value);

}  // namespace tarnscsi::manager