// The device itself: its properties, connecting and disconnecting, the
// timer, the debug trace, and which frames and binnings the camera takes.
#include "tarnscsi_ccd.h"

#include <algorithm>
#include <chrono>
#include <string>

#include <tarnscsi/frame.h>
#include <tarnscsi/manager.h>
#include <tarnscsi/trace.h>

#include "camera_messages.h"
#include "exposure_window.h"
#include "log_lines.h"

namespace tarnscsi::indi {
namespace {

constexpr char kDeviceName[] = TARNSCSI_INDI_DEVICE_NAME;
constexpr int kBitsPerPixel = 16;

}  // namespace

TarnscsiCcd::TarnscsiCcd() { setVersion(TARNSCSI_VERSION_MAJOR, TARNSCSI_VERSION_MINOR); }

TarnscsiCcd::~TarnscsiCcd() {
    // The trace sink refers to this device: it must not outlive it.
    if (isDebug()) SetTraceSink({});
}

const char* TarnscsiCcd::getDefaultName() { return kDeviceName; }

bool TarnscsiCcd::initProperties() {
    INDI::CCD::initProperties();

    // No shutter, no guide head: the camera exposes, and the exposure can be
    // abandoned (it has no abort command of its own).
    SetCCDCapability(CCD_CAN_ABORT | CCD_CAN_BIN | CCD_CAN_SUBFRAME | CCD_HAS_COOLER);
    addCaptureFormat({"INDI_MONO", "Mono", kBitsPerPixel, true});

    PrimaryCCD.setMinMaxStep("CCD_BINNING", "HOR_BIN", kUnbinned, kBinned, 1, false);
    PrimaryCCD.setMinMaxStep("CCD_BINNING", "VER_BIN", kUnbinned, kBinned, 1, false);

    coolerPowerNp[0].fill("CCD_COOLER_VALUE", "Cooling Power (%)", "%.1f", 0, 100, 0, 0);
    coolerPowerNp.fill(getDeviceName(), "CCD_COOLER_POWER", "Cooling Power", MAIN_CONTROL_TAB, IP_RO, 60, IPS_IDLE);

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
        defineProperty(coolerPowerNp);
    } else {
        deleteProperty(coolerPowerNp.getName());
    }
    return true;
}

bool TarnscsiCcd::Connect() {
    // TARNSCSI_SIMULATOR names the simulated manager when a user asks for
    // it; otherwise the installed manager is used, never a silent fallback.
    if (const std::string problem = UseManagerFromEnvironment(); !problem.empty()) {
        Report(INDI::Logger::DBG_ERROR,
               std::string("Cannot use the simulated camera (") + kSimulatorVariable + "): " + problem);
        return false;
    }
    ConnectError error = ConnectError::kNone;
    camera = tarnscsi::Camera::Open(error);
    if (!camera) {
        Report(INDI::Logger::DBG_ERROR, "Cannot connect to the camera: " + ConnectFailure(error) + ".");
        return false;
    }
    LOGF_INFO("Camera found on adapter %d, target %d.", camera->Adapter(), camera->Target());
    exposing = false;
    coolingUnreadable = false;
    // The properties are defined after this returns: let them carry the
    // camera's reading from the start.
    if (const auto reading = camera->ReadCooling()) {
        StoreCooling(*reading);
        coolerPowerNp.setState(IPS_OK);
    }
    nextCoolingRead = ExposureClock::Clock::now() + std::chrono::milliseconds(getPollingPeriod());
    timerId = SetTimer(getCurrentPollingPeriod());
    return true;
}

bool TarnscsiCcd::Disconnect() {
    if (timerId >= 0) {
        RemoveTimer(timerId);
        timerId = -1;
    }
    if (exposing) {
        LOG_WARN("Disconnected during an exposure; its image is discarded.");
        exposing = false;
    }
    camera.reset();
    return true;
}

void TarnscsiCcd::TimerHit() {
    timerId = -1;
    if (!isConnected() || !camera) {
        return;
    }
    const auto now = ExposureClock::Clock::now();
    std::uint32_t next = getCurrentPollingPeriod();
    if (exposing) {
        next = std::min(next, PollExposure(now));
    }
    if (now >= nextCoolingRead) {
        ReadCooling();
        nextCoolingRead = now + std::chrono::milliseconds(getPollingPeriod());
    }
    timerId = SetTimer(next);
}

void TarnscsiCcd::debugTriggered(bool enable) {
    INDI::CCD::debugTriggered(enable);
    // Commands run on the driver's own thread (the timer and the client's
    // requests), where INDI's logger may be called.
    if (enable) {
        SetTraceSink([this](const std::string& line) { Report(INDI::Logger::DBG_DEBUG, line); });
    } else {
        SetTraceSink({});
    }
}

void TarnscsiCcd::Report(INDI::Logger::VerbosityLevel level, const std::string& text) {
    for (const std::string& line : LogLines(text)) DEBUGF(level, "%s", line.c_str());
}

bool TarnscsiCcd::UpdateCCDFrame(int x, int y, int w, int h) {
    const ChipFrame frame{x, y, w, h, PrimaryCCD.getBinX(), PrimaryCCD.getBinY()};
    if (const auto problem = ChipFrameProblem(frame); !problem.empty()) {
        Report(INDI::Logger::DBG_ERROR, "Frame refused: " + problem + ".");
        return false;
    }
    return INDI::CCD::UpdateCCDFrame(x, y, w, h);
}

bool TarnscsiCcd::UpdateCCDBin(int hor, int ver) {
    if (const auto problem = BinningProblem(hor, ver); !problem.empty()) {
        Report(INDI::Logger::DBG_ERROR, "Binning refused: " + problem + ".");
        return false;
    }
    return INDI::CCD::UpdateCCDBin(hor, ver);
}

}  // namespace tarnscsi::indi
