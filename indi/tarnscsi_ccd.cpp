// The device itself: its properties, connecting and disconnecting (through
// the manager SIMULATION chooses), the timer, the debug trace, and which
// frames and binnings the camera takes.
#include "tarnscsi_ccd.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include <tarnscsi/bus.h>
#include <tarnscsi/frame.h>
#include <tarnscsi/manager.h>
#include <tarnscsi/trace.h>
#include <tarnscsi/units.h>

#include "camera_messages.h"
#include "exposure_window.h"
#include "log_lines.h"

namespace tarnscsi::indi {
namespace {

constexpr char kDeviceName[] = TARNSCSI_INDI_DEVICE_NAME;
constexpr int kBitsPerPixel = 16;
constexpr char kOn[] = "ENABLE";
constexpr char kOff[] = "DISABLE";
// Elements of the camera information, in the order they are shown.
enum CameraInfoElement { kVendor, kProduct, kRevision, kAdapter, kTarget, kManager };
// The exposure time shown to the camera's millisecond.
constexpr char kExposureFormat[] = "%.3f";

// The element of a switch vector a client turned on, or null.
const char* SwitchedOn(ISState* states, char* names[], int n) {
    for (int i = 0; i < n; ++i) {
        if (states[i] == ISS_ON) return names[i];
    }
    return nullptr;
}

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

    // The camera's own exposure limits: to the millisecond, up to what its
    // time field carries.
    PrimaryCCD.setMinMaxStep("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", kMinExposureSeconds, kMaxExposureSeconds,
                             kExposureResolutionSeconds, false);
    if (INDI::PropertyNumber exposure = getNumber("CCD_EXPOSURE"); exposure.isValid() && exposure.size() > 0) {
        exposure[0].setFormat(kExposureFormat);
    }

    coolerPowerNp[0].fill("CCD_COOLER_VALUE", "Cooling Power (%)", "%.1f", 0, 100, 0, 0);
    coolerPowerNp.fill(getDeviceName(), "CCD_COOLER_POWER", "Cooling Power", MAIN_CONTROL_TAB, IP_RO, 60, IPS_IDLE);
    coolerSp[0].fill("COOLER_ON", "ON", ISS_OFF);
    coolerSp[1].fill("COOLER_OFF", "OFF", ISS_ON);
    coolerSp.fill(getDeviceName(), "CCD_COOLER", "Cooler", MAIN_CONTROL_TAB, IP_RW, ISR_1OFMANY, 0, IPS_IDLE);
    warmUpOnDisconnectSp[0].fill(kOn, "Enable", ISS_OFF);
    warmUpOnDisconnectSp[1].fill(kOff, "Disable", ISS_ON);
    warmUpOnDisconnectSp.fill(getDeviceName(), "WARM_UP_ON_DISCONNECT", "Warm up on disconnect", OPTIONS_TAB, IP_RW,
                              ISR_1OFMANY, 0, IPS_IDLE);
    readoutAllowanceNp[0].fill("SECONDS", "Seconds", "%.0f", kMinReadoutAllowanceSeconds, kMaxReadoutAllowanceSeconds,
                               1, kDefaultReadoutAllowanceSeconds);
    readoutAllowanceNp.fill(getDeviceName(), "READOUT_ALLOWANCE", "Readout allowance", OPTIONS_TAB, IP_RW, 0, IPS_IDLE);
    cameraInfoTp[kVendor].fill("VENDOR", "Vendor", "");
    cameraInfoTp[kProduct].fill("PRODUCT", "Product", "");
    cameraInfoTp[kRevision].fill("REVISION", "Revision", "");
    cameraInfoTp[kAdapter].fill("ADAPTER", "Host adapter", "");
    cameraInfoTp[kTarget].fill("TARGET", "SCSI target", "");
    cameraInfoTp[kManager].fill("MANAGER", "ASPI manager", "");
    cameraInfoTp.fill(getDeviceName(), "CAMERA_INFO", "Camera", INFO_TAB, IP_RO, 60, IPS_IDLE);

    addDebugControl();
    addSimulationControl();
    addConfigurationControl();
    // The options are there before connecting; their saved values with them.
    defineProperty(warmUpOnDisconnectSp);
    defineProperty(readoutAllowanceNp);
    loadConfig(true, warmUpOnDisconnectSp.getName());
    loadConfig(true, readoutAllowanceNp.getName());

    if (const char* step = std::getenv(kSecondsPerPollVariable); step != nullptr) {
        const double seconds = std::atof(step);
        if (std::isfinite(seconds) && seconds > 0) secondsPerPoll = seconds;
    }
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
        defineProperty(coolerSp);
        defineProperty(cameraInfoTp);
    } else {
        deleteProperty(coolerPowerNp.getName());
        deleteProperty(coolerSp.getName());
        deleteProperty(cameraInfoTp.getName());
    }
    return true;
}

bool TarnscsiCcd::ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[], int n) {
    if (dev != nullptr && std::strcmp(dev, getDeviceName()) == 0) {
        if (coolerSp.isNameMatch(name)) return CoolerSwitch(states, names, n);
        if (std::strcmp(name, "SIMULATION") == 0) return SimulationSwitch(states, names, n);
        if (std::strcmp(name, "CONNECTION") == 0 && DisconnectRequested(states, names, n)) return true;
        if (warmUpOnDisconnectSp.isNameMatch(name)) {
            warmUpOnDisconnectSp.update(states, names, n);
            warmUpOnDisconnectSp.setState(IPS_OK);
            warmUpOnDisconnectSp.apply();
            saveConfig(true, warmUpOnDisconnectSp.getName());
            return true;
        }
    }
    return INDI::CCD::ISNewSwitch(dev, name, states, names, n);
}

bool TarnscsiCcd::ISNewNumber(const char* dev, const char* name, double values[], char* names[], int n) {
    if (dev != nullptr && std::strcmp(dev, getDeviceName()) == 0 && n >= 1) {
        if (readoutAllowanceNp.isNameMatch(name)) {
            // INDI's range check lets a non-number through.
            if (!std::isfinite(values[0]) || values[0] < kMinReadoutAllowanceSeconds ||
                values[0] > kMaxReadoutAllowanceSeconds) {
                LOGF_ERROR("The readout allowance is from %.0f to %.0f s.", kMinReadoutAllowanceSeconds,
                           kMaxReadoutAllowanceSeconds);
                readoutAllowanceNp.setState(IPS_ALERT);
                readoutAllowanceNp.apply();
                return true;
            }
            readoutAllowanceNp.update(values, names, n);
            readoutAllowanceNp.setState(IPS_OK);
            readoutAllowanceNp.apply();
            saveConfig(true, readoutAllowanceNp.getName());
            return true;
        }
        // What INDI takes (a number within the property's range) is what the
        // cooler switch returns to.
        if (std::strcmp(name, TemperatureNP.name) == 0 && values[0] >= TemperatureN[0].min &&
            values[0] <= TemperatureN[0].max) {
            requestedSetpoint = values[0];
        }
    }
    return INDI::CCD::ISNewNumber(dev, name, values, names, n);
}

bool TarnscsiCcd::saveConfigItems(FILE* fp) {
    INDI::CCD::saveConfigItems(fp);
    warmUpOnDisconnectSp.save(fp);
    readoutAllowanceNp.save(fp);
    return true;
}

bool TarnscsiCcd::SimulationSwitch(ISState* states, char* names[], int n) {
    const char* chosen = SwitchedOn(states, names, n);
    if (chosen == nullptr) return false;
    const bool wanted = std::strcmp(chosen, kOn) == 0;
    std::string refusal;
    if (wanted != isSimulation()) {
        if (camera) {
            refusal = "Disconnect before switching the simulated camera on or off.";
        } else if (!wanted && simulatorLoaded) {
            refusal =
                "The simulated camera stays in use until the driver restarts: the ASPI manager is chosen "
                "once per run of the driver. Restart the driver to use a real camera.";
        } else if (wanted && installedManagerUsed) {
            refusal =
                "The installed ASPI manager (real cameras) stays in use until the driver restarts: the manager "
                "is chosen once per run of the driver. Restart the driver to use the simulated camera.";
        }
    }
    if (!refusal.empty()) {
        Report(INDI::Logger::DBG_ERROR, refusal);
        INDI::PropertySwitch simulation = getSwitch("SIMULATION");
        simulation.setState(IPS_ALERT);
        simulation.apply();
        return true;
    }
    return INDI::CCD::ISNewSwitch(getDeviceName(), "SIMULATION", states, names, n);
}

bool TarnscsiCcd::ChooseManager() {
    if (isSimulation()) {
        if (simulatorLoaded) return true;
        if (const std::string problem = UseManager({ManagerKind::kSimulator, {}}); !problem.empty()) {
            Report(INDI::Logger::DBG_ERROR, "Cannot use the simulated camera: " + problem);
            return false;
        }
        simulatorLoaded = true;
        return true;
    }
    // TARNSCSI_SIMULATOR names the simulated manager when a user asks for
    // it; otherwise the installed manager is used, never a silent fallback.
    if (const std::string problem = UseManagerFromEnvironment(); !problem.empty()) {
        Report(INDI::Logger::DBG_ERROR,
               std::string("Cannot use the simulated camera (") + kSimulatorVariable + "): " + problem);
        return false;
    }
    if (const char* named = std::getenv(kSimulatorVariable); named != nullptr && *named != '\0') simulatorLoaded = true;
    return true;
}

void TarnscsiCcd::ReportConnectFailure(ConnectError error, const std::string& detail) {
    std::string text = "Cannot connect to the camera: " + ConnectFailure(error, detail);
    if (error == ConnectError::kMissingManager && !isSimulation()) {
        text += " (switch SIMULATION on for the simulated camera)";
    }
    Report(INDI::Logger::DBG_ERROR, text + ".");
    if (error != ConnectError::kCameraNotFound) return;
    // The manager may say more about what it sees, as 'tarnscsi scan' shows.
    const BusScan scan = ScanBus();
    if (!scan.report) return;
    for (const std::string& line : *scan.report) Report(INDI::Logger::DBG_WARNING, "ASPI manager: " + line);
}

void TarnscsiCcd::FillCameraInfo() {
    const CameraIdentity identity = camera->Identity();
    const auto orUnknown = [](const std::string& text) { return text.empty() ? std::string("unknown") : text; };
    cameraInfoTp[kVendor].setText(orUnknown(identity.vendor));
    cameraInfoTp[kProduct].setText(orUnknown(identity.product));
    cameraInfoTp[kRevision].setText(orUnknown(identity.revision));
    cameraInfoTp[kAdapter].setText(std::to_string(identity.adapter));
    cameraInfoTp[kTarget].setText(std::to_string(identity.target));
    cameraInfoTp[kManager].setText(orUnknown(identity.managerPath));
    cameraInfoTp.setState(identity.vendor.empty() ? IPS_ALERT : IPS_OK);
    if (identity.vendor.empty()) {
        Report(INDI::Logger::DBG_WARNING,
               "The camera did not identify itself: " + Explained(camera->LastResult()) + ".");
    }
}

bool TarnscsiCcd::Connect() {
    if (!ChooseManager()) return false;
    ConnectError error = ConnectError::kNone;
    std::string detail;
    camera = tarnscsi::Camera::Open(error, detail);
    if (!camera) {
        ReportConnectFailure(error, detail);
        return false;
    }
    if (!simulatorLoaded) installedManagerUsed = true;
    LOGF_INFO("Camera found on adapter %d, target %d.", camera->Adapter(), camera->Target());
    exposing = false;
    coolingUnreadable = false;
    disconnectAfterWarmUp = false;
    FillCameraInfo();
    // The properties are defined after this returns: let them carry the
    // camera's reading from the start.
    lastReading = {};
    if (const auto reading = camera->ReadCooling()) {
        StoreCooling(*reading);
        lastReading = *reading;
        coolerPowerNp.setState(IPS_OK);
    }
    // The camera has no cooler switch: its cooler is on when it works.
    cooler.Connected(lastReading);
    coolerSp[0].setState(cooler.On() ? ISS_ON : ISS_OFF);
    coolerSp[1].setState(cooler.On() ? ISS_OFF : ISS_ON);
    coolerSp.setState(IPS_IDLE);
    coolerClockStart = ExposureClock::Clock::now();
    coolingPolls = 0;
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
    if (SensorCold()) {
        LOGF_WARN(
            "Disconnected with the sensor at %.1f C and the cooler working: it keeps its setpoint. Turn the "
            "cooler off first, or enable warm up on disconnect, to bring the sensor gently to ambient.",
            TenthsToCelsius(lastReading.temperature));
    }
    disconnectAfterWarmUp = false;
    camera.reset();
    return true;
}

bool TarnscsiCcd::DisconnectRequested(ISState* states, char* names[], int n) {
    const char* chosen = SwitchedOn(states, names, n);
    if (chosen == nullptr || std::strcmp(chosen, "DISCONNECT") != 0 || !camera) return false;
    if (disconnectAfterWarmUp) {
        // A second request while the warm-up runs disconnects at once. (INDI
        // counts a busy connection as none, so this is done here.)
        FinishDeferredDisconnect();
        return true;
    }
    if (warmUpOnDisconnectSp.findOnSwitchIndex() != 0 || !SensorCold()) return false;
    disconnectAfterWarmUp = true;
    StartWarmUp();
    LOG_INFO("Warming the sensor up before disconnecting; disconnect again to stop at once.");
    INDI::PropertySwitch connection = getSwitch("CONNECTION");
    connection.setState(IPS_BUSY);
    connection.apply();
    return true;
}

void TarnscsiCcd::FinishDeferredDisconnect() {
    if (Disconnect()) {
        setConnected(false, IPS_IDLE);
        updateProperties();
    }
}

void TarnscsiCcd::TimerHit() {
    timerId = -1;
    // Not isConnected(): it is false while a warm-up delays the disconnect.
    if (!camera) {
        return;
    }
    const auto now = ExposureClock::Clock::now();
    std::uint32_t next = getCurrentPollingPeriod();
    if (exposing) {
        next = std::min(next, PollExposure(now));
    }
    if (now >= nextCoolingRead) {
        nextCoolingRead = now + std::chrono::milliseconds(getPollingPeriod());
        ReadCooling();
        // The warm-up before a disconnect may have ended the connection.
        if (!camera) return;
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
