// Reading the command out of a request block, and writing a command's
// outcome back into it.
#pragma once

#include "manager/backend.h"
#include "manager/srb_blocks.h"
#include "transport/aspi.h"

namespace aspi_mgr {

// Largest command-descriptor block a request block can carry.
inline constexpr aspi::BYTE kMaxCdbLength = 16;

// The command a well-formed execute block asks for.
ScsiCommand CommandOf(aspi::SRB_ExecSCSICmd& block);

// Fills host status, target status and (on CHECK CONDITION) sense data up to
// SRB_SenseLen, then SRB_Status last, so that whoever sees the final status
// also sees everything else.
void ApplyOutcome(aspi::SRB_ExecSCSICmd& block, const ScsiOutcome& outcome);

// Sets SRB_Status so that other threads see it after every earlier write.
void PublishStatus(aspi::BYTE& status, aspi::BYTE value);

}  // namespace aspi_mgr
