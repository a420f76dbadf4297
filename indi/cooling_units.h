// The camera's cooling units and INDI's: the camera takes and reports
// temperatures in tenths of a degree Celsius and its cooler drive as a byte
// (0 off, 255 full); INDI shows degrees Celsius and percent.
#pragma once

#include <cmath>
#include <cstdint>

namespace tarnscsi::indi {

inline constexpr double kTenthsPerDegree = 10.0;
inline constexpr double kFullCoolerDrive = 255.0;
inline constexpr double kFullPercent = 100.0;

inline std::int32_t CelsiusToTenths(double celsius) {
    return static_cast<std::int32_t>(std::lround(celsius * kTenthsPerDegree));
}

constexpr double TenthsToCelsius(std::int32_t tenths) { return tenths / kTenthsPerDegree; }

constexpr double DriveToPercent(std::int32_t drive) { return drive * kFullPercent / kFullCoolerDrive; }

}  // namespace tarnscsi::indi
