#include "expose_command.h"

#include <cstdio>
#include <vector>

#include <tarnscsi/camera.h>
#include <tarnscsi/frame.h>
#include <tarnscsi/units.h>

#include "camera_session.h"
#include "cool_command.h"
#include "errors.h"
#include "fits_writer.h"
#include "frame_capture.h"
#include "image.h"
#include "number_format.h"
#include "output_plan.h"
#include "pending_file.h"
#include "png_preview.h"
#include "version.h"

namespace tarnscsi::tool {

namespace {

constexpr char kStandardOutputName[] = "-";

// How close the sensor must come to --set-temp before --cool-wait is over.
constexpr double kCoolWaitToleranceCelsius = 0.5;

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
    if (request.setpoint && !camera->SetTemperature(*request.setpoint)) {
        throw ToolError(CommandFailure("the camera did not accept the setpoint " +
                                           Fixed(TenthsToCelsius(*request.setpoint), kTemperatureDecimals) + " C",
                                       camera->LastResult()));
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
    for (int number = 1; number <= request.count; ++number) {
        const CapturedFrame frame = CaptureFrame(*camera, request.window, number, request.count, buffer, observer);
        observer.Downloaded(number);
        SaveFrame(request, frame, number, std::span<const std::uint8_t>(buffer.data(), frame.bytes), observer);
    }
}

}  // namespace tarnscsi::tool
