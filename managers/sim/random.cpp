#include "sim/random.h"

#include <cmath>
#include <vector>

namespace tarnscsi::sim {
namespace {

constexpr unsigned kLevelBits = 16;
constexpr std::size_t kLevels = std::size_t{1} << kLevelBits;
constexpr std::uint64_t kLevelMask = kLevels - 1;

// The standard normal quantile of p in (0, 1): Acklam's rational
// approximation, relative error below 1.2e-9.
double NormalQuantile(double p) {
    constexpr double kA[] = {-3.969683028665376e+01, 2.209460984245205e+02,  -2.759285104469687e+02,
                             1.383577518672690e+02,  -3.066479806614716e+01, 2.506628277459239e+00};
    constexpr double kB[] = {-5.447609879822406e+01, 1.615858368580409e+02, -1.556989798598866e+02,
                             6.680131188771972e+01, -1.328068155288572e+01};
    constexpr double kC[] = {-7.784894002430293e-03, -3.223964580411365e-01, -2.400758277161838e+00,
                             -2.549732539343734e+00, 4.374664141464968e+00,  2.938163982698783e+00};
    constexpr double kD[] = {7.784695709041462e-03, 3.224671290700398e-01, 2.445134137142996e+00,
                             3.754408661907416e+00};
    constexpr double kLowTail = 0.02425;
    if (p < kLowTail || p > 1.0 - kLowTail) {
        const double q = std::sqrt(-2.0 * std::log(p < kLowTail ? p : 1.0 - p));
        const double z = (((((kC[0] * q + kC[1]) * q + kC[2]) * q + kC[3]) * q + kC[4]) * q + kC[5]) /
                         ((((kD[0] * q + kD[1]) * q + kD[2]) * q + kD[3]) * q + 1.0);
        return p < kLowTail ? z : -z;
    }
    const double q = p - 0.5;
    const double r = q * q;
    return (((((kA[0] * r + kA[1]) * r + kA[2]) * r + kA[3]) * r + kA[4]) * r + kA[5]) * q /
           (((((kB[0] * r + kB[1]) * r + kB[2]) * r + kB[3]) * r + kB[4]) * r + 1.0);
}

// Level i stands for the quantile at the middle of its probability slice.
const std::vector<float>& Levels() {
    static const std::vector<float> levels = [] {
        std::vector<float> table(kLevels);
        for (std::size_t i = 0; i < kLevels; ++i) {
            table[i] = static_cast<float>(NormalQuantile((static_cast<double>(i) + 0.5) / kLevels));
        }
        return table;
    }();
    return levels;
}

}  // namespace

NormalQuad CountedNormals(std::uint64_t key, std::uint64_t n) {
    const std::vector<float>& levels = Levels();
    std::uint64_t bits = Mix64(key + Mix64(n));
    NormalQuad quad;
    for (float& deviate : quad) {
        deviate = levels[bits & kLevelMask];
        bits >>= kLevelBits;
    }
    return quad;
}

}  // namespace tarnscsi::sim