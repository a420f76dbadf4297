#include "sim/sim_clock.h"

#include <algorithm>
#include <cmath>

namespace sim {
namespace {

// About 30 years: keeps huge exposure times from overflowing the clock.
constexpr double kLongestRealMs = 1e12;

}  // namespace

void SimClock::SetScale(double scale) { scale_ = (std::isfinite(scale) && scale > 0.0) ? scale : 0.0; }

SimClock::Clock::duration SimClock::RealDuration(double simulatedMs) const {
    const double realMs = std::clamp(simulatedMs * scale_, 0.0, kLongestRealMs);
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::milli>(realMs));
}

double SimClock::SimulatedSeconds(Clock::time_point from, Clock::time_point to) const {
    const std::chrono::duration<double> real = to - from;
    return real.count() / scale_;
}

}  // namespace sim
