#include "sim/sim_clock.h"

#include <algorithm>
#include <cmath>

namespace tarnscsi::sim {
namespace {

// About 30 years: keeps huge exposure times and tiny scales from
// overflowing the clock.
constexpr double kLongestSpanUs = 1e15;

SimClock::Time ToTime(double microseconds) {
    return SimClock::Time{static_cast<SimClock::Time::rep>(std::clamp(microseconds, 0.0, kLongestSpanUs))};
}

}  // namespace

SimClock::SimClock() : realBase(RealClock::now()) {}

void SimClock::SetScale(double newScale) {
    base = Now();
    realBase = RealClock::now();
    scale = (std::isfinite(newScale) && newScale > 0.0) ? newScale : 0.0;
}

void SimClock::SetManual(bool on) {
    base = Now();
    realBase = RealClock::now();
    manual = on;
}

void SimClock::Advance(Time by) {
    if (manual && by > Time::zero()) {
        base += std::min(by, ToTime(kLongestSpanUs));
    }
}

SimClock::Time SimClock::Now() const {
    if (manual || scale == 0.0) {
        return base;
    }
    const std::chrono::duration<double, std::micro> real = RealClock::now() - realBase;
    return base + ToTime(real.count() / scale);
}

SimClock::Time SimClock::Span(double simulatedMs) const {
    if (Instant()) {
        return Time::zero();
    }
    return ToTime(std::ceil(simulatedMs * 1000.0));
}

}  // namespace tarnscsi::sim