#include "units.h"

#include <cmath>
#include <cstdio>

namespace tarnscsi::tool {

std::int32_t SecondsToMilliseconds(double seconds) {
    return static_cast<std::int32_t>(std::llround(seconds * kMillisecondsPerSecond));
}

double MillisecondsToSeconds(std::int32_t milliseconds) { return milliseconds / kMillisecondsPerSecond; }

std::int32_t CelsiusToTenths(double celsius) {
    return static_cast<std::int32_t>(std::lround(celsius * kTenthsPerDegree));
}

double TenthsToCelsius(std::int32_t tenths) { return tenths / kTenthsPerDegree; }

double CoolerDrivePercent(std::int32_t driveByte) { return driveByte * kPercent / kFullCoolerDrive; }

int BinningFactor(std::int32_t binned) { return binned ? kBinnedFactor : 1; }

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

}  // namespace tarnscsi::tool
