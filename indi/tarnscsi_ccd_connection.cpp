// Connecting and disconnecting: the manager SIMULATION chooses (once per
// run of the driver), what the camera says it is, why connecting failed and
// what to try, and the warm-up a disconnect may wait for.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include <tarnscsi/bus.h>
#include <tarnscsi/manager.h>
#include <tarnscsi/units.h>

#include "tarnscsi_ccd.h"

namespace tarnscsi::indi {

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
    std::string text = "Cannot connect to the camera: " + ConnectFailureExplained(error, detail);
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
        Report(INDI::Logger::DBG_WARNING, "The camera did not identify itself: " + identity.inquiry.Explained() + ".");
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
    session.emplace(*camera);
    coolingUnreadable = false;
    disconnectAfterWarmUp = false;
    FillCameraInfo();
    // The properties are defined after this returns: let them carry the
    // camera's reading from the start.
    lastReading = {};
    if (const CoolingResult read = camera->ReadCooling()) {
        StoreCooling(read.reading);
        lastReading = read.reading;
        coolerPowerNp.setState(IPS_OK);
    }
    // The camera has no cooler switch: its cooler is on when it works.
    cooler.Connected(lastReading);
    coolerSp[0].setState(cooler.On() ? ISS_ON : ISS_OFF);
    coolerSp[1].setState(cooler.On() ? ISS_OFF : ISS_ON);
    coolerSp.setState(IPS_IDLE);
    coolerClockStart = std::chrono::steady_clock::now();
    coolingPolls = 0;
    nextCoolingRead = std::chrono::steady_clock::now() + std::chrono::milliseconds(getPollingPeriod());
    timerId = SetTimer(getCurrentPollingPeriod());
    return true;
}

bool TarnscsiCcd::Disconnect() {
    if (timerId >= 0) {
        RemoveTimer(timerId);
        timerId = -1;
    }
    if (session && session->Active()) LOG_WARN("Disconnected during an exposure; its image is discarded.");
    session.reset();
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

void TarnscsiCcd::StopForExit() {
    if (!camera) return;
    LOG_INFO("The driver is stopping: the camera is released.");
    Disconnect();
    setConnected(false, IPS_IDLE);
}

void TarnscsiCcd::FinishDeferredDisconnect() {
    if (Disconnect()) {
        setConnected(false, IPS_IDLE);
        updateProperties();
    }
}

}  // namespace tarnscsi::indi
