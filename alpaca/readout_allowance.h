// How long the camera may stay busy after its exposure time (reading the
// image out over a slow bus) before the server gives the exposure up, as the
// tarnscsi tool does: a camera that answers NOT READY for ever would
// otherwise leave CameraState at Reading for ever.
#pragma once

namespace tarnscsi::alpaca {

inline constexpr double kReadoutAllowanceSeconds = 60;

// Whether an exposure of `exposureSeconds`, started `elapsedSeconds` ago and
// not yet ready, has used up its allowance.
inline bool ReadoutOverdue(double exposureSeconds, double elapsedSeconds) {
    return elapsedSeconds > exposureSeconds + kReadoutAllowanceSeconds;
}

}  // namespace tarnscsi::alpaca
