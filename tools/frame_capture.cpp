#include "frame_capture.h"

#include <future>
#include <string>

#include "errors.h"
#include "interrupt.h"
#include "units.h"

namespace tarnscsi::tool {

namespace {

using Clock = std::chrono::steady_clock;

// How often readiness is asked and the display redrawn.
constexpr auto kPollInterval = std::chrono::milliseconds(100);
// How long past the exposure time the camera may stay busy (readout, a slow
// bus) before the tool gives up on it.
constexpr auto kReadoutAllowance = std::chrono::seconds(60);

double SecondsSince(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

std::string Describe(const ExposureSettings& w) {
    return std::to_string(w.width) + " x " + std::to_string(w.height) + " at (" + std::to_string(w.originX) + ", " +
           std::to_string(w.originY) + ")" + (w.binned ? " binned" : "") + ", " + std::to_string(w.exposureTime) +
           " ms";
}

// Only a window inside the sensor can be stored; anything else would be a
// fault of the camera or the bus.
bool Plausible(const ExposureSettings& w) {
    const int minSize = BinningFactor(w.binned);
    return w.originX >= 0 && w.originY >= 0 && w.width >= minSize && w.height >= minSize &&
           w.originX <= kSensorWidth - w.width && w.originY <= kSensorHeight - w.height && w.exposureTime >= 0;
}

void WaitUntilReady(Camera& camera, FrameProgress progress, Clock::time_point started, ExposeObserver& observer) {
    const auto exposure = std::chrono::milliseconds(SecondsToMilliseconds(progress.exposure));
    const auto deadline = started + exposure + kReadoutAllowance;
    while (!camera.Ready()) {
        ThrowIfInterrupted();
        const auto now = Clock::now();
        if (now > deadline) {
            throw ToolError("the camera did not finish frame " + std::to_string(progress.number) + " within " +
                            std::to_string(std::chrono::duration_cast<std::chrono::seconds>(now - started).count()) +
                            " s of its start");
        }
        const bool exposing = now < started + exposure;
        progress.phase = exposing ? FramePhase::kExposing : FramePhase::kReadingOut;
        progress.elapsed = exposing ? SecondsSince(started) : SecondsSince(started + exposure);
        observer.Waiting(progress);
        SleepOrThrowIfInterrupted(kPollInterval);
    }
}

// The download is one blocking call; it runs on a worker so that the display
// keeps moving. A bus transfer cannot be cut short, so Ctrl-C is honoured
// once it has returned.
DownloadResult DownloadShowingProgress(Camera& camera, std::span<std::uint8_t> buffer, FrameProgress progress,
                                       ExposeObserver& observer) {
    const auto started = Clock::now();
    auto pending = std::async(std::launch::async, [&camera, buffer] { return camera.Download(buffer); });
    progress.phase = FramePhase::kDownloading;
    while (pending.wait_for(kPollInterval) != std::future_status::ready) {
        progress.elapsed = SecondsSince(started);
        observer.Waiting(progress);
    }
    return pending.get();
}

}  // namespace

CapturedFrame CaptureFrame(Camera& camera, const ExposureSettings& window, int number, int count,
                           std::span<std::uint8_t> buffer, ExposeObserver& observer) {
    ThrowIfInterrupted();
    const std::string frameName = "frame " + std::to_string(number);
    CapturedFrame frame;
    frame.cooling = camera.ReadCooling();
    if (!frame.cooling) observer.Warning("could not read the sensor temperature; CCD-TEMP is left out");

    FrameProgress progress;
    progress.number = number;
    progress.count = count;
    progress.exposure = MillisecondsToSeconds(window.exposureTime);
    frame.start = std::chrono::system_clock::now();
    const auto started = Clock::now();
    if (!camera.Expose(window)) {
        throw ToolError("the camera refused the exposure of " + frameName + " (" + Describe(window) + ")");
    }
    WaitUntilReady(camera, progress, started, observer);

    const DownloadResult result = DownloadShowingProgress(camera, buffer, progress, observer);
    if (!result) throw ToolError("download of " + frameName + " failed: " + result.message);
    ThrowIfInterrupted();
    if (!Plausible(result.window)) {
        throw ToolError("the camera reported an impossible window for " + frameName + ": " + Describe(result.window));
    }
    if (result.window != window) {
        observer.Warning("the camera reports " + Describe(result.window) + " for " + frameName +
                         ", not the requested " + Describe(window) + "; the file follows the camera");
    }
    frame.window = result.window;
    frame.bytes = result.bytes;
    return frame;
}

}  // namespace tarnscsi::tool
