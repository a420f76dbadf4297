// How the SCSI generic manager completes execute requests: SS_PENDING at
// once, then the worker carries the command, sets SRB_Status and signals the
// caller's event, as managers on real adapters do. SG_IO blocks for as long
// as the device takes, and the caller is not held meanwhile.
#pragma once

#include <chrono>

#include "core/aspi_manager.h"

namespace tarnscsi::sg {

inline void UseSgCompletion(tarnscsi::manager::AspiManager& manager) {
    manager.SetCompletion(tarnscsi::manager::CompletionMode::kPending, std::chrono::microseconds{0});
}

}  // namespace tarnscsi::sg