// The one SCSI generic manager of this library: its bus and the ASPI request
// handling in front of it (with no request hooks), completing as
// sg_completion.h says. Made on first use; kept as core/pinned_singleton.h
// says.
#pragma once

#include "core/aspi_manager.h"
#include "sg/sg_bus.h"
#include "sg/sg_completion.h"
#include "sg/time_limit.h"

namespace tarnscsi::sg {

struct SgState {
    SgState();
    // The completion worker runs, or a connection holds a device it will
    // release (core/pinned_singleton.h).
    bool InUse() { return manager.WorkerStarted() || bus.AnyClaimed(); }
    const TimeLimit timeLimit;
    SgBus bus;
    tarnscsi::manager::AspiManager manager;
};

SgState& TheSg();

}  // namespace tarnscsi::sg