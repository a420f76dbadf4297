#include "expose_command.h"

#include <chrono>
#include <cstdio>
#include <optional>
#include <vector>

#include <tarnscsi/camera.h>
#include <tarnscsi/exposure_session.h>
#include <tarnscsi/frame.h>
#include <tarnscsi/units.h>

#include "camera_session.h"
#include "cool_command.h"
#include "errors.h"
#include "frame_files.h"
#include "interrupt.h"
#include "number_format.h"
#include "output_plan.h"
#include "pending_file.h"
#include "version.h"

namespace tarnscsi::tool {

namespace {

// How close the sensor must come to --set-temp before --cool-wait is over.
constexpr double kCoolWaitToleranceCelsius = 0.5;
// How often the display is redrawn while the tool waits for the camera.
constexpr auto kDisplayInterval = std::chrono::milliseconds(100);

using Clock = std::chrono::steady_clock;

double Now() { return SteadySeconds(Clock::now()); }

struct CapturedFrame {
    std::chrono::system_clock::time_point start;  // just before the exposure began
    std::optional<CoolingReading> cooling;        // read at the start
    ExposureSettings window;                      // as the camera reported it
    std::uint64_t bytes = 0;                      // image bytes in the buffer
};

// One frame through the library's exposure session, blocking: the display
// moves while the camera exposes and reads out. Throws ToolError when the
// frame fails (the session's explanation, with the frame's number), and
// Interrupted when Ctrl-C arrives (the frame is dropped).
CapturedFrame CaptureFrame(ExposureSession& session, const ExposeRequest& request, int number,
                           std::span<std::uint8_t> buffer, ExposeObserver& observer) {
    ThrowIfInterrupted();
    const std::string frameName = "frame " + std::to_string(number);
    CapturedFrame frame;
    FrameProgress progress;
    progress.number = number;
    progress.count = request.count;
    progress.exposure = MillisecondsToSeconds(request.window.exposureTime);
    // The window was checked with the options: the same frame and time again.
    const ExposureStart start =
        session.Start(FrameOf(request.window), progress.exposure, Now(), StartReading::kCooling);
    if (start.cooling && *start.cooling) {
        frame.cooling = start.cooling->reading;
    } else if (start.cooling) {
        observer.Warning("could not read the sensor temperature (" + start.cooling->command.Describe() +
                         "); CCD-TEMP is left out");
    }
    if (!start) throw ToolError(frameName + ": " + start.message);
    frame.start = session.StartedAt();
    observer.Started(progress);
    auto nextDisplay = Clock::now();
    for (;;) {
        const ExposureStatus status = session.Poll(Now(), buffer);
        if (status.phase == ExposurePhase::kFailed) throw ToolError(frameName + ": " + status.message);
        if (status.phase == ExposurePhase::kDone) {
            if (!status.warning.empty()) observer.Warning(frameName + ": " + status.warning);
            frame.window = status.download.window;
            frame.bytes = status.download.bytes;
            ThrowIfInterrupted();
            return frame;
        }
        if (Clock::now() >= nextDisplay) {
            progress.phase = status.phase == ExposurePhase::kExposing ? FramePhase::kExposing : FramePhase::kReadingOut;
            progress.elapsed = status.elapsed;
            observer.Waiting(progress);
            nextDisplay = Clock::now() + kDisplayInterval;
        }
        const auto wait = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(status.nextPoll));
        SleepOrThrowIfInterrupted(std::min<Clock::duration>(wait, kDisplayInterval));
    }
}

// The header describes the window the camera reported, origin included.
FitsKeywords KeywordsFor(const ExposeRequest& request, const CapturedFrame& frame) {
    std::optional<double> ccdTemperature;
    if (frame.cooling) ccdTemperature = TenthsToCelsius(frame.cooling->temperature);
    std::optional<double> setpoint;
    if (request.setpoint) setpoint = TenthsToCelsius(*request.setpoint);
    FitsKeywords keywords =
        CameraFrameKeywords(FrameOf(frame.window), MillisecondsToSeconds(frame.window.exposureTime), frame.start,
                            ccdTemperature, setpoint, FitsImageType(request.type), kSoftwareName);
    keywords.metadata = request.metadata;
    return keywords;
}

void SaveFrame(const ExposeRequest& request, const CapturedFrame& frame, int number,
               std::span<const std::uint8_t> bytes, ExposeObserver& observer) {
    const int binning = FrameOf(frame.window).binning;
    const Image16 image =
        ImageFromCameraBytes(bytes, BinnedSize(frame.window.width, binning), BinnedSize(frame.window.height, binning));

    SavedFrame saved;
    saved.number = number;
    saved.count = request.count;
    saved.fitsPath = request.toStandardOutput ? std::string(kStandardOutputName) : request.output.Expand(number);
    saved.width = image.width;
    saved.height = image.height;
    saved.binning = binning;
    saved.exposure = MillisecondsToSeconds(frame.window.exposureTime);
    if (frame.cooling) saved.ccdTemperature = TenthsToCelsius(frame.cooling->temperature);

    if (request.toStandardOutput) {
        WriteFitsToStandardOutput(image, KeywordsFor(request, frame));
    } else {
        WriteFits(saved.fitsPath, image, KeywordsFor(request, frame), request.overwrite);
    }
    observer.FitsSaved(saved);
    if (request.preview) {
        saved.previewPath = request.preview->Expand(number);
        // A preview name without a counter shows the latest frame of the run.
        const bool ownEarlierPreview = number > 1 && !request.preview->HasCounter();
        WritePngPreview(*saved.previewPath, image, request.overwrite || ownEarlierPreview);
    }
    observer.FrameDone(saved);
}

}  // namespace

void RunExpose(const ExposeRequest& request, ExposeObserver& observer) {
    CheckOutputs(request);
    auto camera = OpenCamera();
    if (request.setpoint) {
        if (const OperationResult written = camera->SetTemperature(*request.setpoint); !written) {
            throw ToolError(CommandFailure("the camera did not accept the setpoint " +
                                               Fixed(TenthsToCelsius(*request.setpoint), kTemperatureDecimals) + " C",
                                           written.command));
        }
    }
    if (request.setpoint && request.coolWait) {
        CoolRequest cooling;
        cooling.setpoint = *request.setpoint;
        cooling.wait = true;
        cooling.tolerance = kCoolWaitToleranceCelsius;
        cooling.timeout = *request.coolWait;
        cooling.quiet = request.quiet;
        SteadyWaitClock clock;
        const CoolingReading reached = WaitForSetpoint(*camera, cooling, clock);
        if (!request.quiet && !request.toStandardOutput) {
            std::printf("Cooled to %s C (setpoint %s C).\n",
                        Fixed(TenthsToCelsius(reached.temperature), kTemperatureDecimals).c_str(),
                        Fixed(TenthsToCelsius(cooling.setpoint), kTemperatureDecimals).c_str());
        }
    }
    std::vector<std::uint8_t> buffer(ImageBytes(request.window));
    ExposureSession session(*camera);
    for (int number = 1; number <= request.count; ++number) {
        const CapturedFrame frame = CaptureFrame(session, request, number, buffer, observer);
        observer.Downloaded(number);
        SaveFrame(request, frame, number, std::span<const std::uint8_t>(buffer.data(), frame.bytes), observer);
    }
}

}  // namespace tarnscsi::tool
