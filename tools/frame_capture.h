// One exposure on the camera, from the cooling reading at its start to the
// image in memory: expose, wait until the camera is ready, download.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

#include <tarnscsi/camera.h>

#include "expose_command.h"

namespace tarnscsi::tool {

struct CapturedFrame {
    std::chrono::system_clock::time_point start;  // just before the exposure began
    std::optional<CoolingReading> cooling;        // read at the start
    ExposureSettings window;                      // as the camera reported it
    std::uint64_t bytes = 0;                      // image bytes in the buffer
};

// `buffer` must hold the requested window's image. Throws ToolError when the
// camera refuses the window, never gets ready, reports an impossible window
// or fails the download (naming the command and what the camera said; when
// SCAN had failed, the error is that the exposure did not start); Interrupted
// when Ctrl-C arrives (the frame is dropped). A SCAN that failed while the
// camera still delivers the image is a warning: the camera may end SCAN with
// other than good status while its exposure starts.
CapturedFrame CaptureFrame(Camera& camera, const ExposureSettings& window, int number, int count,
                           std::span<std::uint8_t> buffer, ExposeObserver& observer);

}  // namespace tarnscsi::tool
