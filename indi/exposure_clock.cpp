#include "exposure_clock.h"

#include <algorithm>
#include <cmath>

namespace tarnscsi::indi {

namespace {

ExposureClock::Clock::duration Span(double seconds) {
    return std::chrono::duration_cast<ExposureClock::Clock::duration>(std::chrono::duration<double>(seconds));
}

}  // namespace

void ExposureClock::Start(double seconds, Clock::time_point now, double allowanceSeconds) {
    end = now + Span(seconds);
    if (!std::isfinite(allowanceSeconds)) allowanceSeconds = kDefaultReadoutAllowanceSeconds;
    allowance = Span(std::clamp(allowanceSeconds, kMinReadoutAllowanceSeconds, kMaxReadoutAllowanceSeconds));
}

double ExposureClock::SecondsLeft(Clock::time_point now) const {
    return std::max(0.0, std::chrono::duration<double>(end - now).count());
}

ExposureClock::Clock::duration ExposureClock::UntilDue(Clock::time_point now) const {
    return std::max(Clock::duration::zero(), end - now);
}

}  // namespace tarnscsi::indi
