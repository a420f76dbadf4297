#include "cool_command.h"

#include <cstdio>
#include <optional>
#include <string>

#include <tarnscsi/cooling.h>
#include <tarnscsi/units.h>

#include "camera_session.h"
#include "errors.h"
#include "interrupt.h"
#include "json_events.h"
#include "number_format.h"
#include "progress.h"

namespace tarnscsi::tool {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kReadingInterval = std::chrono::seconds(1);
// Readings that may fail in a row before the wait gives up.
constexpr int kMaxMissedReadings = 3;
// A warm-up from the coldest setpoint at the slowest rate stays well below this.
constexpr auto kWarmUpLimit = std::chrono::hours(24);

std::string Degrees(std::int32_t tenths) { return Fixed(TenthsToCelsius(tenths), kTemperatureDecimals) + " C"; }

std::string Describe(const CoolingReading& reading) {
    return "sensor " + Degrees(reading.temperature) + ", cooler drive " +
           Fixed(DriveToPercent(reading.coolerDrive), 0) + " %";
}

nlohmann::json ReadingFields(const CoolingReading& reading, double seconds) {
    return {{"temperature_c", TenthsToCelsius(reading.temperature)},
            {"cooler_drive_percent", DriveToPercent(reading.coolerDrive)},
            {"elapsed_s", seconds}};
}

std::string Target(const CoolRequest& request) {
    return Degrees(request.setpoint) + " +/- " + Fixed(request.tolerance, kTemperatureDecimals) + " C";
}

double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

// A reading, or ToolError after kMaxMissedReadings failures in a row.
std::optional<CoolingReading> Read(Camera& camera, int& missed) {
    const CoolingResult read = camera.ReadCooling();
    if (read) {
        missed = 0;
        return read.reading;
    }
    if (++missed >= kMaxMissedReadings) {
        throw ToolError(CommandFailure("the camera stopped reporting its temperature", read.command));
    }
    return std::nullopt;
}

void SendSetpoint(Camera& camera, std::int32_t setpoint) {
    if (const OperationResult written = camera.SetTemperature(setpoint); !written) {
        throw ToolError(CommandFailure("the camera did not accept the setpoint " + Degrees(setpoint), written.command));
    }
}

// Raises the setpoint at the requested rate until the cooler idles; a
// cooler idle at the surroundings' temperature from the start is left so
// after the first check.
void WarmUpGently(Camera& camera, const CoolRequest& request, WaitClock& clock) {
    ProgressLine line(stderr, request.quiet);
    int missed = 0;
    std::optional<CoolingReading> first;
    while (!first) {
        first = Read(camera, missed);
        if (!first) clock.Sleep(kReadingInterval);
    }
    WarmUp warmUp(first->temperature, request.ramp);
    if (request.json) {
        PrintJsonEvent("started", {{"mode", "warm-up"},
                                   {"rate_c_per_min", warmUp.Rate()},
                                   {"temperature_c", TenthsToCelsius(first->temperature)}});
    }
    const auto started = clock.Elapsed();
    std::optional<CoolingReading> reading = first;
    for (;;) {
        const double seconds = Seconds(clock.Elapsed() - started);
        if (reading) {
            const std::int32_t setpoint = warmUp.Setpoint(seconds, *reading);
            SendSetpoint(camera, setpoint);
            if (warmUp.Done()) {
                if (request.json) {
                    auto fields = ReadingFields(*reading, seconds);
                    fields["already_idle"] = warmUp.AlreadyIdle();
                    PrintJsonEvent("idle", std::move(fields));
                }
                if (request.quiet) return;
                if (warmUp.AlreadyIdle()) {
                    std::printf(
                        "Nothing to warm up: the cooler is already idle at the surroundings' temperature (%s).\n",
                        Describe(*reading).c_str());
                } else {
                    std::printf("Warmed up (%s); the cooler is idle.\n", Describe(*reading).c_str());
                }
                return;
            }
            line.Show("Warming up at " + Fixed(warmUp.Rate(), 1) + " C/min: setpoint " + Degrees(setpoint) + ", " +
                      Describe(*reading));
            if (request.json) {
                auto fields = ReadingFields(*reading, seconds);
                fields["setpoint_c"] = TenthsToCelsius(setpoint);
                PrintJsonEvent("progress", std::move(fields));
            }
        }
        if (clock.Elapsed() - started > kWarmUpLimit) throw ToolError("the warm-up did not finish within a day");
        clock.Sleep(kReadingInterval);
        reading = Read(camera, missed);
    }
}

}  // namespace

Clock::duration SteadyWaitClock::Elapsed() const { return Clock::now() - start; }

void SteadyWaitClock::Sleep(Clock::duration duration) { SleepOrThrowIfInterrupted(duration); }

CoolingReading WaitForSetpoint(Camera& camera, const CoolRequest& request, WaitClock& clock) {
    const std::string target = Target(request);
    ProgressLine line(stderr, request.quiet);
    SetpointWatch watch(request.setpoint, CelsiusToTenths(request.tolerance));
    const auto started = clock.Elapsed();
    int missed = 0;
    std::optional<CoolingReading> last;
    for (;;) {
        ThrowIfInterrupted();
        const auto elapsed = clock.Elapsed() - started;
        if (const auto reading = Read(camera, missed)) {
            last = reading;
            switch (watch.Observe(Seconds(elapsed), *reading)) {
                case SetpointProgress::kReached:
                    if (request.json) PrintJsonEvent("reached", ReadingFields(*reading, Seconds(elapsed)));
                    return *reading;
                case SetpointProgress::kOutOfReach: throw ToolError(watch.OutOfReachText());
                case SetpointProgress::kApproaching: break;
            }
            line.Show("Cooling to " + target + ": " + Describe(*reading) + ", " + Fixed(Seconds(elapsed), 0) + " s");
            if (request.json) PrintJsonEvent("progress", ReadingFields(*reading, Seconds(elapsed)));
        }
        if (elapsed >= request.timeout) {
            throw ToolError("the sensor did not reach " + target + " within " + Fixed(Seconds(request.timeout), 0) +
                            " s" + (last ? " (" + Describe(*last) + ")" : std::string()));
        }
        clock.Sleep(std::min<Clock::duration>(kReadingInterval, request.timeout - elapsed));
    }
}

void RunCool(const CoolRequest& request) {
    SteadyWaitClock clock;
    RunCool(request, clock);
}

void RunCool(const CoolRequest& request, WaitClock& clock) {
    auto camera = OpenCamera();
    if (request.off) {
        WarmUpGently(*camera, request, clock);
        return;
    }
    SendSetpoint(*camera, request.setpoint);
    if (request.json) PrintJsonEvent("started", {{"mode", "cool"}, {"setpoint_c", TenthsToCelsius(request.setpoint)}});
    if (!request.wait) {
        const CoolingResult read = camera->ReadCooling();
        if (!read) {
            std::fprintf(stderr, "tarnscsi: warning: %s\n",
                         CommandFailure("could not read the sensor temperature", read.command).c_str());
        }
        if (request.json && read) PrintJsonEvent("progress", ReadingFields(read.reading, 0));
        if (!request.quiet) {
            std::printf("Setpoint %s sent%s.\n", Degrees(request.setpoint).c_str(),
                        read ? ("; " + Describe(read.reading)).c_str() : "");
        }
        return;
    }
    const CoolingReading reached = WaitForSetpoint(*camera, request, clock);
    if (!request.quiet) std::printf("Reached %s: %s.\n", Target(request).c_str(), Describe(reached).c_str());
}

}  // namespace tarnscsi::tool
