// Cooling: the setpoint goes to the camera at once; the timer reads the
// temperature and cooler drive back, reports them, says when the
// temperature has reached the setpoint or cannot, and runs the warm-up the
// cooler switch starts.
#include <chrono>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include <tarnscsi/units.h>

#include "tarnscsi_ccd.h"

namespace tarnscsi::indi {
namespace {

// Smallest temperature change worth a message to the clients: the camera
// reports tenths of a degree.
constexpr double kTemperatureReportStep = 0.05;
// "-1234.5 C" and more, for a setpoint in a message.
constexpr std::size_t kSetpointTextSize = 32;
constexpr char kTemperatureElement[] = "CCD_TEMPERATURE_VALUE";

}  // namespace

int TarnscsiCcd::SetTemperature(double temperature) {
    if (!camera) {
        LOG_ERROR("Cannot set the temperature: not connected.");
        return -1;
    }
    if (const std::string problem = SetpointProblem(temperature); !problem.empty()) {
        Report(INDI::Logger::DBG_ERROR, "Setpoint refused: " + problem + ".");
        return -1;
    }
    const std::int32_t setpoint = CelsiusToTenths(temperature);
    if (const OperationResult written = camera->SetTemperature(setpoint); !written) {
        char text[kSetpointTextSize];
        std::snprintf(text, sizeof text, "%.1f C", temperature);
        Report(INDI::Logger::DBG_ERROR,
               std::string("The camera did not take the setpoint ") + text + ": " + written.command.Explained() + ".");
        return -1;
    }
    LOGF_INFO("Cooling to %.1f C.", temperature);
    cooler.SetpointWritten(setpoint);
    ShowCoolerSwitch(true, IPS_OK);
    if (disconnectAfterWarmUp) {
        disconnectAfterWarmUp = false;
        LOG_INFO("Disconnect cancelled: a new setpoint ended the warm-up.");
        setConnected(true, IPS_OK);
    }
    // Done if already there; otherwise the property stays busy and the timer
    // reports until the temperature is within the threshold.
    return WithinTemperatureThreshold(temperature) ? 1 : 0;
}

bool TarnscsiCcd::WithinTemperatureThreshold(double target) {
    return std::abs(target - TemperatureN[0].value) <= TemperatureRampNP[RAMP_THRESHOLD].getValue();
}

bool TarnscsiCcd::SensorCold() const { return camera != nullptr && cooler.WarmUpBeforeDisconnect(lastReading); }

double TarnscsiCcd::CoolerNow() const {
    if (secondsPerPoll > 0) return static_cast<double>(coolingPolls) * secondsPerPoll;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - coolerClockStart).count();
}

void TarnscsiCcd::ShowCoolerSwitch(bool on, IPState state) {
    coolerSp[0].setState(on ? ISS_ON : ISS_OFF);
    coolerSp[1].setState(on ? ISS_OFF : ISS_ON);
    coolerSp.setState(state);
    coolerSp.apply();
}

bool TarnscsiCcd::CoolerSwitch(ISState* states, char* names[], int n) {
    // The message was checked whole: exactly one element is On.
    const char* chosen = SwitchedOn(states, names, n);
    if (chosen == nullptr) return false;
    const bool on = coolerSp[0].isNameMatch(chosen);
    if (!camera) {
        LOG_ERROR("Cannot switch the cooler: not connected.");
        coolerSp.setState(IPS_ALERT);
        coolerSp.apply();
        return true;
    }
    if (!on) {
        if (cooler.WarmingUp()) {
            ShowCoolerSwitch(false, IPS_BUSY);
        } else if (!cooler.On() && !SensorCold()) {
            ShowCoolerSwitch(false, IPS_OK);  // already off, nothing to warm
        } else {
            StartWarmUp();
        }
        return true;
    }
    // On: back to the setpoint a client asked for last, through INDI's own
    // handling of a new temperature (range, ramp, busy until reached).
    double target = TemperatureN[0].value;
    if (const auto asked = cooler.AskedSetpoint()) {
        target = TenthsToCelsius(*asked);
    } else {
        LOGF_INFO("No setpoint was asked for yet: the cooler holds the sensor at %.1f C.", target);
    }
    double values[] = {target};
    char element[sizeof kTemperatureElement];
    std::memcpy(element, kTemperatureElement, sizeof kTemperatureElement);
    char* elements[] = {element};
    INDI::CCD::ISNewNumber(getDeviceName(), TemperatureNP.name, values, elements, 1);
    if (TemperatureNP.s == IPS_ALERT) ShowCoolerSwitch(cooler.On(), IPS_ALERT);
    return true;
}

void TarnscsiCcd::StartWarmUp() {
    const double slope = TemperatureRampNP[RAMP_SLOPE].getValue();
    const double rate = slope > 0 ? slope : kDefaultWarmUpRate;
    cooler.StartWarmUp(lastReading, rate, CoolerNow());
    // INDI's own ramp towards the last setpoint must not step in.
    m_TemperatureCheckTimer.stop();
    LOGF_INFO("Cooler off: warming the sensor up from %.1f C at %.1f C per minute; the cooler then idles.",
              TenthsToCelsius(lastReading.temperature), rate);
    TemperatureNP.s = IPS_BUSY;
    IDSetNumber(&TemperatureNP, nullptr);
    ShowCoolerSwitch(false, IPS_BUSY);
}

void TarnscsiCcd::ApplyCoolerStep(const CoolerStep& step) {
    if (step.write) {
        if (const OperationResult written = camera->SetTemperature(*step.write); !written) {
            Report(INDI::Logger::DBG_WARNING,
                   "The camera did not take the warm-up's setpoint: " + written.command.Explained() + ".");
        }
    }
    if (step.event == CoolerEvent::kOutOfReach) {
        m_TemperatureCheckTimer.stop();
        std::string text = cooler.OutOfReach();
        text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
        Report(INDI::Logger::DBG_WARNING, text + ".");
        TemperatureNP.s = IPS_ALERT;
        IDSetNumber(&TemperatureNP, nullptr);
    } else if (step.event == CoolerEvent::kWarmedUp || step.event == CoolerEvent::kWasIdle) {
        if (step.event == CoolerEvent::kWasIdle) {
            LOGF_INFO("Nothing to warm up: the cooler was already idle with the sensor at ambient (%.1f C).",
                      TenthsToCelsius(lastReading.temperature));
        } else {
            LOGF_INFO("Warm-up done: the sensor is at ambient (%.1f C); the cooler idles.",
                      TenthsToCelsius(lastReading.temperature));
        }
        TemperatureNP.s = IPS_OK;
        IDSetNumber(&TemperatureNP, nullptr);
        ShowCoolerSwitch(false, IPS_OK);
        if (disconnectAfterWarmUp) FinishDeferredDisconnect();
    }
}

bool TarnscsiCcd::StoreCooling(const CoolingReading& reading) {
    const double celsius = TenthsToCelsius(reading.temperature);
    const double percent = DriveToPercent(reading.coolerDrive);
    const bool changed =
        std::abs(celsius - TemperatureN[0].value) >= kTemperatureReportStep || percent != coolerPowerNp[0].getValue();
    TemperatureN[0].value = celsius;
    coolerPowerNp[0].setValue(percent);
    return changed;
}

void TarnscsiCcd::ReadCooling() {
    const CoolingResult read = camera->ReadCooling();
    if (!read) {
        // A camera may not answer while it exposes: keep the last reading
        // then. Otherwise say so once per outage.
        if ((session && session->Active()) || coolingUnreadable) {
            return;
        }
        coolingUnreadable = true;
        temperatureStateBeforeOutage = TemperatureNP.s;
        Report(INDI::Logger::DBG_WARNING, "Cannot read the camera's temperature: " + read.command.Explained() + ".");
        TemperatureNP.s = IPS_ALERT;
        IDSetNumber(&TemperatureNP, nullptr);
        coolerPowerNp.setState(IPS_ALERT);
        coolerPowerNp.apply();
        return;
    }

    const CoolingReading& reading = read.reading;
    bool report = StoreCooling(reading);
    lastReading = reading;
    ++coolingPolls;
    if (coolingUnreadable) {
        coolingUnreadable = false;
        LOG_INFO("The camera's temperature can be read again.");
        TemperatureNP.s = temperatureStateBeforeOutage;
        report = true;
    }
    if (TemperatureNP.s == IPS_BUSY && !cooler.WarmingUp() && WithinTemperatureThreshold(m_TargetTemperature)) {
        TemperatureNP.s = IPS_OK;
        m_TemperatureCheckTimer.stop();
        LOGF_INFO("Temperature reached %.1f C.", TemperatureN[0].value);
        report = true;
    }
    if (report) {
        IDSetNumber(&TemperatureNP, nullptr);
        coolerPowerNp.setState(IPS_OK);
        coolerPowerNp.apply();
    }
    // Last: the warm-up may end the connection.
    ApplyCoolerStep(cooler.Poll(reading, CoolerNow()));
}

}  // namespace tarnscsi::indi
