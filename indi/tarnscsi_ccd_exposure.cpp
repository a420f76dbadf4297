// Exposures: start the camera, watch the clock, ask the camera whether it is
// ready, download, hand the image to INDI; or abandon the exposure.
#include <algorithm>
#include <mutex>
#include <span>

#include <fitsio.h>

#include <tarnscsi/camera.h>
#include <tarnscsi/frame.h>
#include <tarnscsi/units.h>

#include "camera_messages.h"
#include "exposure_window.h"
#include "tarnscsi_ccd.h"

namespace tarnscsi::indi {
namespace {

// How often a camera whose exposure time is over is asked whether it is ready.
constexpr std::uint32_t kReadyPollMs = 100;
constexpr std::uint32_t kShortestTimerMs = 1;

std::uint32_t WholeMilliseconds(ExposureClock::Clock::duration duration) {
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(duration).count();
    return static_cast<std::uint32_t>(std::max<decltype(ms)>(ms, kShortestTimerMs));
}

}  // namespace

bool TarnscsiCcd::StartExposure(float duration) {
    if (!camera) {
        LOG_ERROR("Cannot expose: not connected.");
        return false;
    }
    const ChipFrame frame{PrimaryCCD.getSubX(), PrimaryCCD.getSubY(), PrimaryCCD.getSubW(),
                          PrimaryCCD.getSubH(), PrimaryCCD.getBinX(), PrimaryCCD.getBinY()};
    std::string problem = ChipFrameProblem(frame);
    if (problem.empty()) problem = ExposureTimeProblem(duration);
    if (!problem.empty()) {
        Report(INDI::Logger::DBG_ERROR, "Exposure refused: " + problem + ".");
        return false;
    }
    const ExposureSettings window = ChipWindow(frame, duration);
    expectedBytes = ExpectedImageBytes(frame);
    {
        // The previous image may still be on its way out as FITS.
        const std::lock_guard<std::mutex> guard(ccdBufferLock);
        PrimaryCCD.setFrameBufferSize(expectedBytes);
        sentWindow = window;
        exposureSetpoint = cooler.ActiveSetpoint();
    }
    const auto now = ExposureClock::Clock::now();
    if (!camera->Expose(window)) {
        const char* busy = now < abandonedBusyUntil ? " It may still be busy with the exposure abandoned before." : "";
        Report(INDI::Logger::DBG_ERROR,
               "The camera refused the exposure: " + Explained(camera->LastResult()) + "." + busy);
        return false;
    }
    scanResult = camera->ScanResult();
    if (!scanResult.Ok()) {
        // The camera may end SCAN so and still expose: Ready and the
        // download tell.
        Report(INDI::Logger::DBG_WARNING, "The camera did not confirm the start of the exposure (" +
                                              scanResult.Describe() + "); waiting for it all the same.");
    }
    PrimaryCCD.setExposureDuration(duration);
    exposureClock.Start(duration, now, readoutAllowanceNp[0].getValue());
    exposing = true;
    return true;
}

bool TarnscsiCcd::AbortExposure() {
    if (exposing) {
        // The camera cannot be stopped: stop waiting for it and never read
        // what it makes.
        exposing = false;
        abandonedBusyUntil = exposureClock.BusyUntil();
        LOG_INFO("Exposure aborted; the camera finishes it on its own and the image is discarded.");
    }
    return true;
}

std::uint32_t TarnscsiCcd::PollExposure(ExposureClock::Clock::time_point now) {
    if (!exposureClock.Due(now)) {
        PrimaryCCD.setExposureLeft(exposureClock.SecondsLeft(now));
        return WholeMilliseconds(exposureClock.UntilDue(now));
    }
    if (camera->Ready()) {
        FinishExposure();
        return getCurrentPollingPeriod();
    }
    if (exposureClock.Overdue(now)) {
        FailExposure(ImageFailure("the camera did not become ready after the exposure time", scanResult));
        return getCurrentPollingPeriod();
    }
    return kReadyPollMs;
}

void TarnscsiCcd::FinishExposure() {
    exposing = false;
    std::unique_lock<std::mutex> guard(ccdBufferLock);
    const std::span<std::uint8_t> buffer(PrimaryCCD.getFrameBuffer(),
                                         static_cast<std::size_t>(PrimaryCCD.getFrameBufferSize()));
    const DownloadResult result = camera->Download(buffer);
    if (!result) {
        guard.unlock();
        FailExposure(DownloadFailure(result, scanResult));
        return;
    }
    if (result.bytes != expectedBytes) {
        guard.unlock();
        FailExposure("the camera returned " + std::to_string(result.bytes) + " bytes, not the " +
                     std::to_string(expectedBytes) + " of the requested frame");
        return;
    }
    PixelsFromCameraInPlace(buffer.first(static_cast<std::size_t>(result.bytes)));
    guard.unlock();
    ExposureComplete(&PrimaryCCD);
}

void TarnscsiCcd::FailExposure(const std::string& why) {
    exposing = false;
    Report(INDI::Logger::DBG_ERROR, "Exposure failed: " + why + ".");
    PrimaryCCD.setExposureFailed();
}

void TarnscsiCcd::addFITSKeywords(INDI::CCDChip* targetChip) {
    INDI::CCD::addFITSKeywords(targetChip);
    fitsfile* file = *targetChip->fitsFilePointer();
    if (file == nullptr) return;
    // INDI holds ccdBufferLock while it writes the image: sentWindow is this
    // image's window.
    BinnedPoint origin = HeaderOrigin(sentWindow);
    int status = 0;
    // The camera model, as the tarnscsi tool records it; INDI's IMAGETYP
    // ("Light Frame", ...) is already what the tool writes.
    fits_update_key_str(file, "INSTRUME", CameraModel(), "camera", &status);
    if (exposureSetpoint) {
        fits_update_key_fixdbl(file, "SET-TEMP", TenthsToCelsius(*exposureSetpoint), kTemperatureDecimals,
                               "[C] cooler setpoint", &status);
    }
    fits_update_key_s(file, TINT, "XORGSUBF", &origin.x, "Subframe X origin in binned pixels", &status);
    fits_update_key_s(file, TINT, "YORGSUBF", &origin.y, "Subframe Y origin in binned pixels", &status);
    if (status != 0) LOGF_WARN("Cannot write the camera's keywords to the FITS header (cfitsio status %d).", status);
}

}  // namespace tarnscsi::indi
