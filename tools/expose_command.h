// The expose subcommand: takes one frame or a sequence, and writes each as
// a FITS file (and optionally a PNG preview).
#pragma once

#include <optional>
#include <string>

#include "options.h"

namespace tarnscsi::tool {

enum class FramePhase {
    kExposing,     // the exposure time is running
    kReadingOut,   // exposure time over, the camera is not ready yet
    kDownloading,  // the image is coming over the bus
};

struct FrameProgress {
    int number = 1;  // 1-based
    int count = 1;
    FramePhase phase = FramePhase::kExposing;
    double elapsed = 0;   // seconds in this phase (since the start for exposing)
    double exposure = 0;  // seconds
};

struct SavedFrame {
    int number = 1;
    int count = 1;
    std::string fitsPath;
    std::optional<std::string> previewPath;
    int width = 0;  // pixels in the file
    int height = 0;
    int binning = 1;
    double exposure = 0;  // seconds
    std::optional<double> ccdTemperature;
};

// What the command reports as it goes; the terminal display and the
// benchmark's clock both listen here. Called on the command's thread.
class ExposeObserver {
public:
    virtual ~ExposeObserver() = default;
    // The camera accepted the exposure of a frame.
    virtual void Started(const FrameProgress&) {}
    virtual void Waiting(const FrameProgress&) {}
    // The image is in memory: the camera's part is over.
    virtual void Downloaded(int /*number*/) {}
    // The FITS file is complete on disk under its final name.
    virtual void FitsSaved(const SavedFrame&) {}
    // The frame is finished, preview included.
    virtual void FrameDone(const SavedFrame&) {}
    virtual void Warning(const std::string&) {}
};

// Checks every output name, connects, and takes request.count frames. Throws
// ToolError (camera or file failure), Interrupted (the frame in progress is
// dropped; the camera is disconnected on the way out).
void RunExpose(const ExposeRequest& request, ExposeObserver& observer);

}  // namespace tarnscsi::tool
