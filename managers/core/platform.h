// The few operating-system services a manager needs beyond the standard
// library. The only platform-specific code of the managers lives behind
// these two functions.
#pragma once

namespace tarnscsi::manager {

// Signals the completion event named in SRB_PostProc: on Windows an event
// HANDLE (SetEvent); elsewhere an eventfd descriptor number stored in the
// pointer, to which the 8-byte value 1 is written. A null value is ignored.
void SignalCompletionEvent(void* postProc);

// Keeps the library that contains this code loaded until the process ends,
// whatever the host does with its own handle. Needed once a thread of ours
// runs inside the library. Returns false if the library could not be pinned.
bool PinThisModule();

}  // namespace tarnscsi::manager