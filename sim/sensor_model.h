// The camera's sensor and electronics as its images show them: electrons
// become counts (ADU) through the gain on top of a bias level; every read
// adds read noise; a pixel holds at most a full well of electrons and the
// converter tops out at 65535; dark current grows with exposure time and
// doubles for every 6 C of sensor temperature.
#pragma once

#include <cmath>
#include <cstdint>

namespace tarnscsi::sim::sensor {

inline constexpr double kGainElectronsPerAdu = 1.5;
inline constexpr double kBiasAdu = 1000.0;
inline constexpr double kReadNoiseElectrons = 15.0;
inline constexpr double kFullWellElectrons = 100000.0;  // beyond the converter's range
inline constexpr double kLargestAdu = 65535.0;

// Dark current: 1 electron per pixel per second at 0.0 C, doubling every 6 C.
inline constexpr double kDarkElectronsPerSecondAtReference = 1.0;
inline constexpr double kDarkReferenceTenths = 0.0;
inline constexpr double kDarkDoublingTenths = 60.0;

inline double DarkElectronsPerSecond(std::int32_t sensorTenths) {
    return kDarkElectronsPerSecondAtReference * std::exp2((sensorTenths - kDarkReferenceTenths) / kDarkDoublingTenths);
}

}  // namespace tarnscsi::sim::sensor