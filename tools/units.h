// Conversions between the units people use and the camera's own: seconds
// and milliseconds, degrees and tenths of a degree, the cooler drive byte
// and percent, binned and unbinned pixels.
#pragma once

#include <cstdint>
#include <string>

namespace tarnscsi::tool {

inline constexpr double kMillisecondsPerSecond = 1000.0;
inline constexpr double kTenthsPerDegree = 10.0;
inline constexpr double kFullCoolerDrive = 255.0;
inline constexpr double kPercent = 100.0;
inline constexpr int kBinnedFactor = 2;

// Decimals that show the camera's own resolution: milliseconds and tenths
// of a degree.
inline constexpr int kExposureDecimals = 3;
inline constexpr int kTemperatureDecimals = 1;

// Largest exposure the camera's 32-bit millisecond field holds, in seconds.
inline constexpr double kMaxExposureSeconds = INT32_MAX / kMillisecondsPerSecond;

// Nearest whole millisecond; the caller has checked the range.
std::int32_t SecondsToMilliseconds(double seconds);
double MillisecondsToSeconds(std::int32_t milliseconds);

// Nearest tenth of a degree; the caller has checked the range.
std::int32_t CelsiusToTenths(double celsius);
double TenthsToCelsius(std::int32_t tenths);

// Cooler drive byte (0..255) as a percentage of full drive.
double CoolerDrivePercent(std::int32_t driveByte);

// 1 or 2 from the camera's binned flag.
int BinningFactor(std::int32_t binned);

// `value` with a fixed number of decimals, for messages: "-10.0".
std::string Fixed(double value, int decimals);

}  // namespace tarnscsi::tool
