// Exposures: start the camera, watch the clock, ask the camera whether it is
// ready, download, hand the image to INDI; or abandon the exposure.
#include <algorithm>
#include <mutex>
#include <span>

#include "exposure_window.h"
#include "pixel_order.h"
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
    if (!camera_) {
        LOG_ERROR("Cannot expose: not connected.");
        return false;
    }
    const ChipFrame frame{PrimaryCCD.getSubX(), PrimaryCCD.getSubY(), PrimaryCCD.getSubW(),
                          PrimaryCCD.getSubH(), PrimaryCCD.getBinX(), PrimaryCCD.getBinY()};
    if (const auto problem = FrameProblem(frame); !problem.empty()) {
        LOGF_ERROR("Exposure refused: %s.", problem.c_str());
        return false;
    }
    expectedBytes_ = ExpectedImageBytes(frame);
    {
        // The previous image may still be on its way out as FITS.
        const std::lock_guard<std::mutex> guard(ccdBufferLock);
        PrimaryCCD.setFrameBufferSize(expectedBytes_);
    }
    const auto now = ExposureClock::Clock::now();
    if (!camera_->Expose(WindowFor(frame, duration))) {
        if (now < abandonedBusyUntil_) {
            LOG_ERROR("The camera refused the exposure; it may still be busy with the exposure abandoned "
                      "before.");
        } else {
            LOG_ERROR("The camera refused the exposure.");
        }
        return false;
    }
    PrimaryCCD.setExposureDuration(duration);
    exposureClock_.Start(duration, now);
    exposing_ = true;
    return true;
}

bool TarnscsiCcd::AbortExposure() {
    if (exposing_) {
        // The camera cannot be stopped: stop waiting for it and never read
        // what it makes.
        exposing_ = false;
        abandonedBusyUntil_ = exposureClock_.BusyUntil();
        LOG_INFO("Exposure aborted; the camera finishes it on its own and the image is discarded.");
    }
    return true;
}

std::uint32_t TarnscsiCcd::PollExposure(ExposureClock::Clock::time_point now) {
    if (!exposureClock_.Due(now)) {
        PrimaryCCD.setExposureLeft(exposureClock_.SecondsLeft(now));
        return WholeMilliseconds(exposureClock_.UntilDue(now));
    }
    if (camera_->Ready()) {
        FinishExposure();
        return getCurrentPollingPeriod();
    }
    if (exposureClock_.Overdue(now)) {
        FailExposure("the camera did not become ready after the exposure time");
        return getCurrentPollingPeriod();
    }
    return kReadyPollMs;
}

void TarnscsiCcd::FinishExposure() {
    exposing_ = false;
    std::unique_lock<std::mutex> guard(ccdBufferLock);
    const std::span<std::uint8_t> buffer(PrimaryCCD.getFrameBuffer(),
                                         static_cast<std::size_t>(PrimaryCCD.getFrameBufferSize()));
    const DownloadResult result = camera_->Download(buffer);
    if (!result) {
        guard.unlock();
        FailExposure(("download failed: " + result.message).c_str());
        return;
    }
    if (result.bytes != expectedBytes_) {
        guard.unlock();
        const std::string why = "the camera returned " + std::to_string(result.bytes) + " bytes, not the " +
                                std::to_string(expectedBytes_) + " of the requested frame";
        FailExposure(why.c_str());
        return;
    }
    BigEndianToHost16(buffer.first(result.bytes));
    guard.unlock();
    ExposureComplete(&PrimaryCCD);
}

void TarnscsiCcd::FailExposure(const char* why) {
    exposing_ = false;
    LOGF_ERROR("Exposure failed: %s.", why);
    PrimaryCCD.setExposureFailed();
}

}  // namespace tarnscsi::indi
