// Cooling: the setpoint goes to the camera at once; the timer reads the
// temperature and cooler drive back and reports them, and says when the
// temperature has reached the setpoint.
#include <cmath>
#include <cstdio>
#include <string>

#include <tarnscsi/units.h>

#include "camera_messages.h"
#include "tarnscsi_ccd.h"

namespace tarnscsi::indi {
namespace {

// Smallest temperature change worth a message to the clients: the camera
// reports tenths of a degree.
constexpr double kTemperatureReportStep = 0.05;
// "-1234.5 C" and more, for a setpoint in a message.
constexpr std::size_t kSetpointTextSize = 32;

}  // namespace

int TarnscsiCcd::SetTemperature(double temperature) {
    if (!camera) {
        LOG_ERROR("Cannot set the temperature: not connected.");
        return -1;
    }
    // INDI keeps the value within the property's range; the camera's field
    // is narrower than a double.
    if (!(temperature >= kMinSetpointFieldCelsius && temperature <= kMaxSetpointFieldCelsius)) {
        LOGF_ERROR("The camera takes setpoints from %.1f to %.1f C, not %.1f C.", kMinSetpointFieldCelsius,
                   kMaxSetpointFieldCelsius, temperature);
        return -1;
    }
    if (!camera->SetTemperature(CelsiusToTenths(temperature))) {
        char setpoint[kSetpointTextSize];
        std::snprintf(setpoint, sizeof setpoint, "%.1f C", temperature);
        Report(INDI::Logger::DBG_ERROR, std::string("The camera did not take the setpoint ") + setpoint + ": " +
                                            Explained(camera->LastResult()) + ".");
        return -1;
    }
    LOGF_INFO("Cooling to %.1f C.", temperature);
    // Done if already there; otherwise the property stays busy and the timer
    // reports until the temperature is within the threshold.
    return WithinTemperatureThreshold(temperature) ? 1 : 0;
}

bool TarnscsiCcd::WithinTemperatureThreshold(double target) {
    return std::abs(target - TemperatureN[0].value) <= TemperatureRampNP[RAMP_THRESHOLD].getValue();
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
    const auto reading = camera->ReadCooling();
    if (!reading) {
        // A camera may not answer while it exposes: keep the last reading
        // then. Otherwise say so once per outage.
        if (exposing || coolingUnreadable) {
            return;
        }
        coolingUnreadable = true;
        temperatureStateBeforeOutage = TemperatureNP.s;
        Report(INDI::Logger::DBG_WARNING,
               "Cannot read the camera's temperature: " + Explained(camera->LastResult()) + ".");
        TemperatureNP.s = IPS_ALERT;
        IDSetNumber(&TemperatureNP, nullptr);
        coolerPowerNp.setState(IPS_ALERT);
        coolerPowerNp.apply();
        return;
    }

    bool report = StoreCooling(*reading);
    if (coolingUnreadable) {
        coolingUnreadable = false;
        LOG_INFO("The camera's temperature can be read again.");
        TemperatureNP.s = temperatureStateBeforeOutage;
        report = true;
    }
    if (TemperatureNP.s == IPS_BUSY && WithinTemperatureThreshold(m_TargetTemperature)) {
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
}

}  // namespace tarnscsi::indi
