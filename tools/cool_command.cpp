#include "cool_command.h"

#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

#include <tarnscsi/units.h>

#include "camera_session.h"
#include "errors.h"
#include "interrupt.h"
#include "number_format.h"
#include "progress.h"

namespace tarnscsi::tool {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kReadingInterval = std::chrono::seconds(1);
// Readings that may fail in a row before the wait gives up.
constexpr int kMaxMissedReadings = 3;
// Tolerances are compared in degrees; this absorbs the rounding of tenths.
constexpr double kComparisonSlack = 1e-9;

std::string Describe(const CoolingReading& reading) {
    return "sensor " + Fixed(TenthsToCelsius(reading.temperature), kTemperatureDecimals) + " C, cooler drive " +
           Fixed(DriveToPercent(reading.coolerDrive), 0) + " %";
}

bool WithinTolerance(const CoolingReading& reading, const CoolRequest& request) {
    return std::abs(TenthsToCelsius(reading.temperature - request.setpoint)) <= request.tolerance + kComparisonSlack;
}

std::string Target(const CoolRequest& request) {
    return Fixed(TenthsToCelsius(request.setpoint), kTemperatureDecimals) + " C +/- " +
           Fixed(request.tolerance, kTemperatureDecimals) + " C";
}

}  // namespace

CoolingReading WaitForSetpoint(Camera& camera, const CoolRequest& request) {
    const std::string target = Target(request);
    ProgressLine line(stderr, request.quiet);
    const auto started = Clock::now();
    int missed = 0;
    std::optional<CoolingReading> last;
    for (;;) {
        const auto reading = camera.ReadCooling();
        if (reading) {
            missed = 0;
            last = reading;
            if (WithinTolerance(*reading, request)) return *reading;
        } else if (++missed >= kMaxMissedReadings) {
            throw ToolError(CommandFailure("the camera stopped reporting its temperature", camera.LastResult()));
        }
        const auto elapsed = Clock::now() - started;
        if (elapsed >= request.timeout) {
            throw ToolError("the sensor did not reach " + target + " within " +
                            Fixed(std::chrono::duration<double>(request.timeout).count(), 0) + " s" +
                            (last ? " (" + Describe(*last) + ")" : std::string()));
        }
        if (last) {
            line.Show("Cooling to " + target + ": " + Describe(*last) + ", " +
                      Fixed(std::chrono::duration<double>(elapsed).count(), 0) + " s");
        }
        SleepOrThrowIfInterrupted(std::min<Clock::duration>(kReadingInterval, request.timeout - elapsed));
    }
}

void RunCool(const CoolRequest& request) {
    auto camera = OpenCamera();
    const std::string setpoint = Fixed(TenthsToCelsius(request.setpoint), kTemperatureDecimals) + " C";
    if (!camera->SetTemperature(request.setpoint)) {
        throw ToolError(CommandFailure("the camera did not accept the setpoint " + setpoint, camera->LastResult()));
    }
    if (!request.wait) {
        const auto reading = camera->ReadCooling();
        if (!reading) {
            std::fprintf(stderr, "tarnscsi: warning: %s\n",
                         CommandFailure("could not read the sensor temperature", camera->LastResult()).c_str());
        }
        if (!request.quiet) {
            std::printf("Setpoint %s sent%s.\n", setpoint.c_str(), reading ? ("; " + Describe(*reading)).c_str() : "");
        }
        return;
    }
    const CoolingReading reached = WaitForSetpoint(*camera, request);
    if (!request.quiet) std::printf("Reached %s: %s.\n", Target(request).c_str(), Describe(reached).c_str());
}

}  // namespace tarnscsi::tool
