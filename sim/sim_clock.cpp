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

SimClock::SimClock() : realBase_(RealClock::now()) {}

void SimClock::SetScale(double scale) {
    base_ = Now();
    realBase_ = RealClock::now();
    scale_ = (std::isfinite(scale) && scale > 0.0) ? scale : 0.0;
}

void SimClock::SetManual(bool on) {
    base_ = Now();
    realBase_ = RealClock::now();
    manual_ = on;
}

void SimClock::Advance(Time by) {
    if (manual_ && by > Time::zero()) {
        base_ += std::min(by, ToTime(kLongestSpanUs));
    }
}

SimClock::Time SimClock::Now() const {
    if (manual_ || scale_ == 0.0) {
        return base_;
    }
    const std::chrono::duration<double, std::micro> real = RealClock::now() - realBase_;
    return base_ + ToTime(real.count() / scale_);
}

SimClock::Time SimClock::Span(double simulatedMs) const {
    if (Instant()) {
        return Time::zero();
    }
    return ToTime(std::ceil(simulatedMs * 1000.0));
}

}  // namespace tarnscsi::sim