// Exposures: the library's exposure session starts the camera, watches the
// clock, asks the camera whether it is ready and downloads into the primary
// chip's buffer; the driver hands the image to INDI, or abandons it.
#include <algorithm>
#include <cmath>
#include <mutex>
#include <span>

#include <fitsio.h>

#include <tarnscsi/camera.h>
#include <tarnscsi/exposure_session.h>
#include <tarnscsi/frame.h>
#include <tarnscsi/units.h>

#include "exposure_window.h"
#include "tarnscsi_ccd.h"

namespace tarnscsi::indi {
namespace {

constexpr std::uint32_t kShortestTimerMs = 1;

std::uint32_t WholeMilliseconds(double seconds) {
    const auto ms = std::ceil(seconds * kMillisecondsPerSecond);
    return static_cast<std::uint32_t>(std::max(ms, static_cast<double>(kShortestTimerMs)));
}

}  // namespace

bool TarnscsiCcd::StartExposure(float duration) {
    if (!camera || !session) {
        LOG_ERROR("Cannot expose: not connected.");
        return false;
    }
    // Ekos does not look at CCD_FRAME's state: taking the frame before
    // instead would hand it an image of another frame as the one it asked for.
    if (const std::string refused = RefusedFrameProblem(); !refused.empty()) {
        Report(INDI::Logger::DBG_ERROR, "Exposure refused: " + refused + ".");
        return false;
    }
    {
        // The frame asked for since the last exposure started; the previous
        // image may still be on its way out as FITS.
        const std::lock_guard<std::mutex> guard(ccdBufferLock);
        ApplyNextFrame();
    }
    const ChipFrame frame = ChipNow();
    // INDI keeps a binning per axis, the library's frame one for both.
    std::string problem = BinningProblem(frame.binX, frame.binY);
    if (problem.empty()) {
        session->SetReadoutAllowance(readoutAllowanceNp[0].getValue());
        const ExposureStart start =
            session->Start(FrameOfChip(frame), duration, SteadySeconds(std::chrono::steady_clock::now()));
        problem = start.message;
    }
    if (!problem.empty()) {
        Report(INDI::Logger::DBG_ERROR, "Exposure refused: " + problem + ".");
        return false;
    }
    {
        // The previous image may still be on its way out as FITS; the
        // timer reads the camera only after this returns.
        const std::lock_guard<std::mutex> guard(ccdBufferLock);
        expectedBytes = ExpectedImageBytes(frame);
        PrimaryCCD.setFrameBufferSize(expectedBytes);
        sentWindow = session->Window();
        exposureSetpoint = cooler.ActiveSetpoint();
    }
    if (!session->Scan().Ok()) {
        // The camera may end SCAN so and still expose: Ready and the
        // download tell.
        Report(INDI::Logger::DBG_WARNING, "The camera did not confirm the start of the exposure (" +
                                              session->Scan().Describe() + "); waiting for it all the same.");
    }
    PrimaryCCD.setExposureDuration(duration);
    // The timer may be set for a whole polling period: look again when the
    // exposure time is over, not later.
    if (timerId >= 0) RemoveTimer(timerId);
    timerId = SetTimer(WholeMilliseconds(duration));
    return true;
}

bool TarnscsiCcd::AbortExposure() {
    if (session && session->Active()) {
        // The camera cannot be stopped: stop waiting for it and never read
        // what it makes.
        session->Abort(SteadySeconds(std::chrono::steady_clock::now()));
        LOG_INFO("Exposure aborted; the camera finishes it on its own and the image is discarded.");
    }
    return true;
}

std::uint32_t TarnscsiCcd::PollExposure(std::chrono::steady_clock::time_point now) {
    std::unique_lock<std::mutex> guard(ccdBufferLock);
    const std::span<std::uint8_t> buffer(PrimaryCCD.getFrameBuffer(),
                                         static_cast<std::size_t>(PrimaryCCD.getFrameBufferSize()));
    const ExposureStatus status = session->Poll(SteadySeconds(now), buffer);
    switch (status.phase) {
        case ExposurePhase::kExposing:
            guard.unlock();
            PrimaryCCD.setExposureLeft(status.secondsLeft);
            return WholeMilliseconds(status.nextPoll);
        case ExposurePhase::kReadingOut: return WholeMilliseconds(status.nextPoll);
        case ExposurePhase::kFailed:
            guard.unlock();
            FailExposure(status.message);
            return getCurrentPollingPeriod();
        case ExposurePhase::kIdle: return getCurrentPollingPeriod();
        case ExposurePhase::kDone: break;
    }
    if (status.download.bytes != expectedBytes) {
        guard.unlock();
        FailExposure("the camera returned " + std::to_string(status.download.bytes) + " bytes, not the " +
                     std::to_string(expectedBytes) + " of the requested frame");
        return getCurrentPollingPeriod();
    }
    PixelsFromCameraInPlace(buffer.first(static_cast<std::size_t>(status.download.bytes)));
    guard.unlock();
    if (!status.warning.empty()) Report(INDI::Logger::DBG_WARNING, "The camera: " + status.warning + ".");
    ExposureComplete(&PrimaryCCD);
    return getCurrentPollingPeriod();
}

void TarnscsiCcd::FailExposure(const std::string& why) {
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
