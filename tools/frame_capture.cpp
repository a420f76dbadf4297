#include "frame_capture.h"

#include <future>
#include <string>

#include <tarnscsi/frame.h>
#include <tarnscsi/units.h>

#include "camera_session.h"
#include "errors.h"
#include "interrupt.h"

namespace tarnscsi::tool {

namespace {

using Clock = std::chrono::steady_clock;

// How often readiness is asked and the display redrawn.
constexpr auto kPollInterval = std::chrono::milliseconds(100);
// How long past the exposure time the camera may stay busy (readout, a slow
// bus) before the tool gives up on it.
constexpr auto kReadoutAllowance = std::chrono::seconds(60);

double SecondsSince(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

// `scanFailure`, when not empty, says that SCAN failed: if the camera never
// gets ready, that is the reason given.
void WaitUntilReady(Camera& camera, FrameProgress progress, Clock::time_point started, const std::string& scanFailure,
                    ExposeObserver& observer) {
    const auto exposure = std::chrono::milliseconds(SecondsToMilliseconds(progress.exposure));
    const auto deadline = started + exposure + kReadoutAllowance;
    while (!camera.Ready()) {
        ThrowIfInterrupted();
        const auto now = Clock::now();
        if (now > deadline) {
            if (!scanFailure.empty()) throw ToolError(scanFailure);
            throw ToolError("the camera did not finish frame " + std::to_string(progress.number) + " within " +
                            std::to_string(std::chrono::duration_cast<std::chrono::seconds>(now - started).count()) +
                            " s of its start (last answer: " + camera.LastResult().Describe() + ")");
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

// The download's message names the command and the sense; the advice is the
// failed command's (a window too large for the buffer has no command).
std::string DownloadFailure(const std::string& frameName, const DownloadResult& result) {
    std::string text = "download of " + frameName + " failed: " + result.message;
    const bool commandFailed = result.status != DownloadStatus::kOk && result.status != DownloadStatus::kBufferTooSmall;
    if (const std::string advice = result.command.Advice(); commandFailed && !advice.empty()) text += "; " + advice;
    return text;
}

}  // namespace

CapturedFrame CaptureFrame(Camera& camera, const ExposureSettings& window, int number, int count,
                           std::span<std::uint8_t> buffer, ExposeObserver& observer) {
    ThrowIfInterrupted();
    const std::string frameName = "frame " + std::to_string(number);
    CapturedFrame frame;
    frame.cooling = camera.ReadCooling();
    if (!frame.cooling) {
        observer.Warning("could not read the sensor temperature (" + camera.LastResult().Describe() +
                         "); CCD-TEMP is left out");
    }

    FrameProgress progress;
    progress.number = number;
    progress.count = count;
    progress.exposure = MillisecondsToSeconds(window.exposureTime);
    frame.start = std::chrono::system_clock::now();
    const auto started = Clock::now();
    if (!camera.Expose(window)) {
        throw ToolError(
            CommandFailure("the camera refused the exposure of " + frameName + " (" + DescribeWindow(window) + ")",
                           camera.LastResult()));
    }
    observer.Started(progress);
    // SCAN's status alone does not decide: the camera may end it with other
    // than good status while its exposure starts. Whether an image follows does.
    const CommandResult scan = camera.ScanResult();
    const std::string notStarted = "the exposure of " + frameName + " did not start";
    const std::string scanFailure = scan.Ok() ? std::string() : CommandFailure(notStarted, scan);
    WaitUntilReady(camera, progress, started, scanFailure, observer);

    const DownloadResult result = DownloadShowingProgress(camera, buffer, progress, observer);
    if (!result && !scanFailure.empty()) {
        // The download only confirms that no image came; the advice is SCAN's.
        throw ToolError(CommandFailure(notStarted, scan, "the download then failed: " + result.message));
    }
    if (!result) throw ToolError(DownloadFailure(frameName, result));
    ThrowIfInterrupted();
    if (!scanFailure.empty()) {
        observer.Warning("SCAN of " + frameName + " did not complete (" + scan.Describe() +
                         "), but the camera then delivered its image; the frame is kept");
    }
    if (const std::string problem = ReportedWindowProblem(result.window); !problem.empty()) {
        throw ToolError("the camera reported an impossible window for " + frameName + ": " + problem);
    }
    if (result.window != window) {
        observer.Warning("the camera reports " + DescribeWindow(result.window) + " for " + frameName +
                         ", not the requested " + DescribeWindow(window) +
                         "; the image and its header follow the camera");
    }
    frame.window = result.window;
    frame.bytes = result.bytes;
    return frame;
}

}  // namespace tarnscsi::tool
