// The one SCSI generic manager of this library: its bus and the ASPI request
// handling in front of it (with no request hooks), completing as
// sg_completion.h says. Made on first use; kept as manager/pinned_singleton.h
// says.
#pragma once

#include "manager/aspi_manager.h"
#include "sg/sg_bus.h"
#include "sg/sg_completion.h"
#include "sg/time_limit.h"

namespace tarnscsi::sg {

struct SgState {
    SgState();
    const TimeLimit timeLimit;
    SgBus bus;
    tarnscsi::manager::AspiManager manager;
};

SgState& TheSg();

}  // namespace tarnscsi::sg