// The device itself: its properties, connecting and disconnecting, the
// timer, and which frames and binnings the camera takes.
#include "tarnscsi_ccd.h"

#include <algorithm>
#include <chrono>
#include <string>

#include "exposure_window.h"
#include "manager_choice.h"

namespace tarnscsi::indi {
namespace {

constexpr char kDeviceName[] = TARNSCSI_INDI_DEVICE_NAME;
constexpr int kBitsPerPixel = 16;

}  // namespace

TarnscsiCcd::TarnscsiCcd() { setVersion(TARNSCSI_VERSION_MAJOR, TARNSCSI_VERSION_MINOR); }

const char* TarnscsiCcd::getDefaultName() { return kDeviceName; }

bool TarnscsiCcd::initProperties() {
    INDI::CCD::initProperties();

    // No shutter, no guide head: the camera exposes, and the exposure can be
    // abandoned (it has no abort command of its own).
    SetCCDCapability(CCD_CAN_ABORT | CCD_CAN_BIN | CCD_CAN_SUBFRAME | CCD_HAS_COOLER);
    addCaptureFormat({"INDI_MONO", "Mono", kBitsPerPixel, true});

    PrimaryCCD.setMinMaxStep("CCD_BINNING", "HOR_BIN", kUnbinned, kBinned, 1, false);
    PrimaryCCD.setMinMaxStep("CCD_BINNING", "VER_BIN", kUnbinned, kBinned, 1, false);

    CoolerPowerNP[0].fill("CCD_COOLER_VALUE", "Cooling Power (%)", "%.1f", 0, 100, 0, 0);
    CoolerPowerNP.fill(getDeviceName(), "CCD_COOLER_POWER", "Cooling Power", MAIN_CONTROL_TAB, IP_RO, 60,
                       IPS_IDLE);

    addDebugControl();
    return true;
}

bool TarnscsiCcd::updateProperties() {
    INDI::CCD::updateProperties();
    if (isConnected()) {
        // As INDI's own drivers do: the geometry goes to the properties the
        // base class has just defined.
        SetCCDParams(kSensorWidth, kSensorHeight, kBitsPerPixel, static_cast<float>(kPixelSizeMicrons),
                     static_cast<float>(kPixelSizeMicrons));
        defineProperty(CoolerPowerNP);
    } else {
        deleteProperty(CoolerPowerNP.getName());
    }
    return true;
}

bool TarnscsiCcd::Connect() {
    // TARNSCSI_SIMULATOR names the simulated manager when a user asks for
    // it; otherwise the installed manager is used, never a silent fallback.
    std::string error = tarnscsi::manager_choice::ApplyEnvironment();
    if (!error.empty()) {
        LOGF_ERROR("Cannot use the simulated camera: %s", error.c_str());
        return false;
    }
    camera_ = tarnscsi::Camera::Open(error);
    if (!camera_) {
        LOGF_ERROR("Cannot connect to the camera: %s", error.c_str());
        return false;
    }
    LOGF_INFO("Camera found on adapter %d, target %d.", camera_->Adapter(), camera_->Target());
    exposing_ = false;
    coolingUnreadable_ = false;
    // The properties are defined after this returns: let them carry the
    // camera's reading from the start.
    if (const auto reading = camera_->ReadCooling()) {
        StoreCooling(*reading);
        CoolerPowerNP.setState(IPS_OK);
    }
    nextCoolingRead_ = ExposureClock::Clock::now() + std::chrono::milliseconds(getPollingPeriod());
    timerId_ = SetTimer(getCurrentPollingPeriod());
    return true;
}

bool TarnscsiCcd::Disconnect() {
    if (timerId_ >= 0) {
        RemoveTimer(timerId_);
        timerId_ = -1;
    }
    if (exposing_) {
        LOG_WARN("Disconnected during an exposure; its image is discarded.");
        exposing_ = false;
    }
    camera_.reset();
    return true;
}

void TarnscsiCcd::TimerHit() {
    timerId_ = -1;
    if (!isConnected() || !camera_) {
        return;
    }
    const auto now = ExposureClock::Clock::now();
    std::uint32_t next = getCurrentPollingPeriod();
    if (exposing_) {
        next = std::min(next, PollExposure(now));
    }
    if (now >= nextCoolingRead_) {
        ReadCooling();
        nextCoolingRead_ = now + std::chrono::milliseconds(getPollingPeriod());
    }
    timerId_ = SetTimer(next);
}

bool TarnscsiCcd::UpdateCCDFrame(int x, int y, int w, int h) {
    const ChipFrame frame{x, y, w, h, PrimaryCCD.getBinX(), PrimaryCCD.getBinY()};
    if (const auto problem = FrameProblem(frame); !problem.empty()) {
        LOGF_ERROR("Frame refused: %s.", problem.c_str());
        return false;
    }
    return INDI::CCD::UpdateCCDFrame(x, y, w, h);
}

bool TarnscsiCcd::UpdateCCDBin(int hor, int ver) {
    if (const auto problem = BinningProblem(hor, ver); !problem.empty()) {
        LOGF_ERROR("Binning refused: %s.", problem.c_str());
        return false;
    }
    return INDI::CCD::UpdateCCDBin(hor, ver);
}

}  // namespace tarnscsi::indi
