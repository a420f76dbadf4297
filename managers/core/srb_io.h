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

// A command that ended well on the bus but moved too few bytes (a
// residual): data sent that the target did not all take, or a reply that
// does not cover every byte the module reads of it (camera_commands.h,
// BytesNeeded: all of a READ(10), INQUIRY through its product name, GET
// WINDOW and MODE SENSE through their last field read). The rest of the
// buffer holds no data of this command, so it must not pass as complete.
bool EndedShort(const ScsiCommand& command, const ScsiOutcome& outcome);

// The outcome the block reports: as the bus ended the command, except that
// one which ended short is an error with host status HASTAT_DO_DU (data
// over/underrun), as ASPI managers report it; `transferred` keeps the bytes
// that did move.
ScsiOutcome Judged(const ScsiCommand& command, ScsiOutcome outcome);

// Fills host status, target status and (on CHECK CONDITION) sense data up to
// SRB_SenseLen, then SRB_Status last, so that whoever sees the final status
// also sees everything else.
void ApplyOutcome(tarnscsi::aspi::SRB_ExecSCSICmd& block, const ScsiOutcome& outcome);

// Sets SRB_Status so that other threads see it after every earlier write.
void PublishStatus(tarnscsi::aspi::BYTE& status, tarnscsi::aspi::BYTE value);

}  // namespace tarnscsi::manager