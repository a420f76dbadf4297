// What the module does when it is unloaded while a connection is current:
// an application that loads camera drivers on demand may unload it without
// Disconnect. The connection stays as it always has (unloading ends
// nothing: the manager stays loaded, the event open), but its claim on the
// camera is given back, or the process could not connect again once it
// loads the module anew. At the process's exit nothing is done: the end of
// the process releases every claim, and the manager may be gone by then.
#pragma once

namespace tarnscsi {

// Gives back the current connection's claim on the camera, if it holds one.
// Defined with the exports; called only as the module is unloaded.
void ReleaseClaimsOnUnload() noexcept;

// Called by every Connect: lets the unload tell a dynamic unload from the
// process's exit where the system does not say which it is.
void WatchForExit();

}  // namespace tarnscsi
