#include <tarnscsi/cooling.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <tarnscsi/units.h>

namespace tarnscsi {

namespace {

constexpr double kSecondsPerMinute = 60.0;
// The ramp is this far above an idle cooler's sensor before the warm-up
// counts the surroundings as reached: a drive of 0 just below the ramp is
// the controller easing off, not the end.
constexpr std::int32_t kAheadOfSensorTenths = 20;

}  // namespace

WarmUp::WarmUp(std::int32_t startTemperature, double degreesPerMinute)
    : start(startTemperature),
      rate(std::clamp(std::isfinite(degreesPerMinute) ? degreesPerMinute : kDefaultWarmUpRate, kMinWarmUpRate,
                      kMaxWarmUpRate)),
      last(startTemperature) {}

std::int32_t WarmUp::Setpoint(double elapsedSeconds, const CoolingReading& reading) {
    if (done) return kIdleSetpoint;
    idleSoFar = idleSoFar && reading.coolerDrive == 0;
    if (idleSoFar && firstSetpointAt && elapsedSeconds - *firstSetpointAt >= kIdleCheckSeconds &&
        std::abs(reading.temperature - start) <= kSteadyTenths) {
        done = true;
        alreadyIdle = true;
        last = kIdleSetpoint;
        return last;
    }
    if (!firstSetpointAt) firstSetpointAt = elapsedSeconds;
    const double risen = std::max(0.0, elapsedSeconds) / kSecondsPerMinute * rate * kTenthsPerDegree;
    const double ramp = std::min<double>(start + risen, kIdleSetpoint);
    last = std::max(last, static_cast<std::int32_t>(std::floor(ramp)));
    if ((reading.coolerDrive == 0 && last >= reading.temperature + kAheadOfSensorTenths) || last >= kIdleSetpoint) {
        done = true;
        last = kIdleSetpoint;
    }
    return last;
}

SetpointWatch::SetpointWatch(std::int32_t target, std::int32_t allowed)
    : setpoint(target), tolerance(std::max(allowed, 0)), coldest(0) {}

std::int32_t SetpointWatch::Limit() const {
    if (predicted) return static_cast<std::int32_t>(std::lround(*predicted));
    return coldest;
}

std::string SetpointWatch::OutOfReachText() const {
    const auto degrees = [](std::int32_t tenths) {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f C", TenthsToCelsius(tenths));
        return std::string(text);
    };
    const std::int32_t limit = Limit();
    return "the cooler cannot reach " + degrees(setpoint) + ": at full drive the sensor levels off at about " +
           degrees(limit) + " (choose a setpoint of " + degrees(limit + tolerance) + " or warmer)";
}

SetpointProgress SetpointWatch::Observe(double seconds, const CoolingReading& reading) {
    coldest = seen ? std::min(coldest, reading.temperature) : reading.temperature;
    seen = true;
    if (std::abs(reading.temperature - setpoint) <= tolerance) {
        stretch = false;
        prediction.Clear();
        return SetpointProgress::kReached;
    }
    if (reading.coolerDrive < kFullDriveThreshold || reading.temperature < setpoint) {
        stretch = false;
        prediction.Clear();
        return SetpointProgress::kApproaching;
    }
    prediction.Add(seconds, reading.temperature);
    if (const auto limit = prediction.Firm(); limit && *limit > setpoint + tolerance + kPredictionMarginTenths) {
        predicted = limit;
        return SetpointProgress::kOutOfReach;
    }
    if (!stretch) {
        stretch = true;
        stretchStart = seconds;
        stretchTemperature = reading.temperature;
        return SetpointProgress::kApproaching;
    }
    if (seconds - stretchStart < kStallSeconds) return SetpointProgress::kApproaching;
    if (stretchTemperature - reading.temperature < kStallTenths) return SetpointProgress::kOutOfReach;
    // Still falling: judge the next stretch from here.
    stretchStart = seconds;
    stretchTemperature = reading.temperature;
    return SetpointProgress::kApproaching;
}

}  // namespace tarnscsi
