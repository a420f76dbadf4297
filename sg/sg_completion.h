// How the SCSI generic manager completes execute requests: SS_PENDING at
// once, then the worker carries the command, sets SRB_Status and signals the
// caller's event, as managers on real adapters do. SG_IO blocks for as long
// as the device takes, and the caller is not held meanwhile.
#pragma once

#include <chrono>

#include "manager/aspi_manager.h"

namespace sg {

inline void UseSgCompletion(aspi_mgr::AspiManager& manager) {
    manager.SetCompletion(aspi_mgr::CompletionMode::kPending, std::chrono::microseconds{0});
}

}  // namespace sg
