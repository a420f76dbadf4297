// The camera's sensor and electronics as its images show them: electrons
// become counts (ADU) through the gain on top of a bias level; every read
// adds read noise; a pixel holds at most a full well of electrons and the
// converter tops out at 65535; dark current grows with exposure time and
// doubles for every 6 C of sensor temperature.
//
// Binning happens on the chip: the charge of a 2 x 2 cell is shifted into
// the output node and read once, so a binned pixel has four times the
// signal on one bias level with one read noise. A bias frame reads
// 1000 ADU with 15 e- / 1.5 = 10 ADU of noise, binned or not; shot noise is
// that of the cell's whole charge.
#pragma once

#include <cmath>
#include <cstdint>

namespace tarnscsi::sim::sensor {

inline constexpr double kGainElectronsPerAdu = 1.5;
inline constexpr double kBiasAdu = 1000.0;
inline constexpr double kReadNoiseElectrons = 15.0;
inline constexpr double kFullWellElectrons = 100000.0;  // beyond the converter's range
// What the output node holds when a binned cell's charge arrives; also
// beyond the converter's range (65535 ADU is 96802 e- above the bias), so a
// bright binned pixel reads 65535.
inline constexpr double kOutputNodeFullWellElectrons = 200000.0;
inline constexpr double kLargestAdu = 65535.0;

// Dark current: 1 electron per pixel per second at 0.0 C, doubling every 6 C.
inline constexpr double kDarkElectronsPerSecondAtReference = 1.0;
inline constexpr double kDarkReferenceTenths = 0.0;
inline constexpr double kDarkDoublingTenths = 60.0;

inline double DarkElectronsPerSecond(std::int32_t sensorTenths) {
    return kDarkElectronsPerSecondAtReference * std::exp2((sensorTenths - kDarkReferenceTenths) / kDarkDoublingTenths);
}

}  // namespace tarnscsi::sim::sensor