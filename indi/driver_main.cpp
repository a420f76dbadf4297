// The driver's one device. libindidriver provides main() and hands every
// client request to the devices that registered themselves on construction.
// Whatever ends the process (the end of its input, SIGTERM, SIGINT), the
// camera is released on the way out.
#include <memory>

#include "signal_exit.h"
#include "tarnscsi_ccd.h"

namespace {

const std::unique_ptr<tarnscsi::indi::TarnscsiCcd> kDevice = std::make_unique<tarnscsi::indi::TarnscsiCcd>();

void StopDevice() { kDevice->StopForExit(); }

[[maybe_unused]] const bool kStopsInOrder = (tarnscsi::indi::StopInOrderOnSignals(StopDevice), true);

}  // namespace
