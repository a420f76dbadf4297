// One SCSI command carried by the kernel's SG_IO request: the request
// header built from the command, and the outcome read back from it.
#pragma once

#include <scsi/sg.h>

#include <chrono>
#include <cstddef>
#include <optional>

#include "core/backend.h"
#include "sg/sg_system.h"
#include "aspi.h"

namespace tarnscsi::sg {

// Sense bytes the kernel may return for one command.
inline constexpr std::size_t kSenseCapacity = 32;

// SG_DXFER_NONE when no data move, else SG_DXFER_FROM_DEV for SRB_DIR_IN and
// SG_DXFER_TO_DEV for SRB_DIR_OUT; nothing when data would move but the
// flags name no single direction, or there is no buffer for them.
std::optional<int> TransferDirection(const tarnscsi::manager::ScsiCommand& command);

// SRB_HaStat for the midlayer's host and driver status.
tarnscsi::aspi::BYTE HostAdapterStatus(std::uint16_t hostStatus, std::uint16_t driverStatus);

// How a finished SG_IO request ended (sense at header.sbp). SS_COMP only
// when the SCSI status, the host status and the driver status are all good.
tarnscsi::manager::ScsiOutcome OutcomeOf(const sg_io_hdr_t& header);

struct Carried {
    tarnscsi::manager::ScsiOutcome outcome;
    int error = 0;  // errno when SG_IO itself failed, else 0
};

// Runs the command on the open device with the given time limit. A command
// whose direction cannot be told is not sent: SS_INVALID_SRB.
Carried Carry(SgSystem& system, int descriptor, const tarnscsi::manager::ScsiCommand& command,
              std::chrono::milliseconds timeLimit);

}  // namespace tarnscsi::sg