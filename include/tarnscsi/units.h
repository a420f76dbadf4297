// The camera's units and the ones people use: exposure time in milliseconds
// (seconds), temperature in tenths of a degree Celsius (degrees), cooler
// drive as a byte from 0 (off) to 255 (full) (percent). Every front-end
// converts through these, so a value means the same everywhere.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace tarnscsi {

inline constexpr double kMillisecondsPerSecond = 1000.0;
inline constexpr double kTenthsPerDegree = 10.0;
inline constexpr std::int32_t kFullCoolerDrive = 255;
inline constexpr double kFullPercent = 100.0;

// Exposure times the camera's field carries: 0 to 2^31 - 1 ms in 1 ms steps.
inline constexpr double kExposureResolutionSeconds = 1.0 / kMillisecondsPerSecond;
inline constexpr double kMinExposureSeconds = 0.0;
inline constexpr double kMaxExposureSeconds = std::numeric_limits<std::int32_t>::max() / kMillisecondsPerSecond;

// The setpoint travels as a signed 16-bit count of tenths of a degree.
inline constexpr double kMinSetpointFieldCelsius = std::numeric_limits<std::int16_t>::min() / kTenthsPerDegree;
inline constexpr double kMaxSetpointFieldCelsius = std::numeric_limits<std::int16_t>::max() / kTenthsPerDegree;

// Decimals that show the camera's own resolution.
inline constexpr int kExposureDecimals = 3;
inline constexpr int kTemperatureDecimals = 1;

// Nearest whole millisecond. The caller keeps `seconds` within
// [kMinExposureSeconds, kMaxExposureSeconds].
inline std::int32_t SecondsToMilliseconds(double seconds) {
    return static_cast<std::int32_t>(std::llround(seconds * kMillisecondsPerSecond));
}

constexpr double MillisecondsToSeconds(std::int32_t milliseconds) { return milliseconds / kMillisecondsPerSecond; }

// Nearest tenth of a degree. The caller keeps `celsius` within the field.
inline std::int32_t CelsiusToTenths(double celsius) {
    return static_cast<std::int32_t>(std::lround(celsius * kTenthsPerDegree));
}

constexpr double TenthsToCelsius(std::int32_t tenths) { return tenths / kTenthsPerDegree; }

// Cooler drive byte (0..255) as a percentage of full drive, and back.
constexpr double DriveToPercent(std::int32_t drive) { return drive * kFullPercent / kFullCoolerDrive; }

inline std::int32_t PercentToDrive(double percent) {
    return static_cast<std::int32_t>(std::lround(percent * kFullCoolerDrive / kFullPercent));
}

}  // namespace tarnscsi
