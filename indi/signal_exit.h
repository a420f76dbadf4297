// The driver's process ends in order when it is told to stop: SIGTERM
// (indiserver stopping its drivers, a service manager) and SIGINT (Ctrl-C)
// only note the signal, through a pipe the INDI event loop watches; the
// loop then calls `stop` (which releases the camera) and the process ends
// with the signal as before. A second signal before then ends it at once,
// for a camera call that does not return. SIGPIPE is ignored: a server
// that went away shows as the end of the driver's input, which ends the
// process in order, not as a death in the middle of a message.
#pragma once

namespace tarnscsi::indi {

void StopInOrderOnSignals(void (*stop)());

}  // namespace tarnscsi::indi
