// Simulated time: how long an exposure or a cooling step takes in real time.
// The scale is real milliseconds per simulated millisecond; 0 makes
// everything finish at once.
#pragma once

#include <chrono>

namespace sim {

class SimClock {
public:
    using Clock = std::chrono::steady_clock;

    // Negative and non-numbers count as 0.
    void SetScale(double scale);
    double Scale() const { return scale_; }
    bool Instant() const { return scale_ == 0.0; }

    Clock::time_point Now() const { return Clock::now(); }

    // Real time that `simulatedMs` simulated milliseconds take.
    Clock::duration RealDuration(double simulatedMs) const;

    // Simulated seconds between two real instants (not for Instant clocks).
    double SimulatedSeconds(Clock::time_point from, Clock::time_point to) const;

private:
    double scale_ = 0.0;
};

}  // namespace sim
