#include "exposure_clock.h"

#include <algorithm>

namespace tarnscsi::indi {

void ExposureClock::Start(double seconds, Clock::time_point now) {
    end = now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

double ExposureClock::SecondsLeft(Clock::time_point now) const {
    return std::max(0.0, std::chrono::duration<double>(end - now).count());
}

ExposureClock::Clock::duration ExposureClock::UntilDue(Clock::time_point now) const {
    return std::max(Clock::duration::zero(), end - now);
}

}  // namespace tarnscsi::indi
