// Simulated time, in microseconds since the clock was made. It either runs
// against the real clock at a scale (real milliseconds per simulated
// millisecond; 0 makes everything finish at once), or, in manual mode,
// stands still until advanced, so that tests step it exactly. Switching
// between the two, or changing the scale, never moves simulated time.
#pragma once

#include <chrono>

namespace tarnscsi::sim {

class SimClock {
public:
    using Time = std::chrono::microseconds;

    SimClock();

    // Negative and non-numbers count as 0. In manual mode the scale waits
    // until the mode ends.
    void SetScale(double scale);
    double Scale() const { return scale; }

    void SetManual(bool on);
    bool Manual() const { return manual; }
    // Moves simulated time forward by `by`; only in manual mode.
    void Advance(Time by);

    // Everything finishes at once: scale 0 and not manual.
    bool Instant() const { return !manual && scale == 0.0; }

    Time Now() const;

    // How long `simulatedMs` simulated milliseconds are, rounded up to the
    // microsecond (a wait never ends early); 0 for an Instant clock.
    Time Span(double simulatedMs) const;

private:
    using RealClock = std::chrono::steady_clock;

    double scale = 0.0;
    bool manual = false;
    Time base{0};  // simulated time at realBase (manual mode: the time)
    RealClock::time_point realBase;
};

}  // namespace tarnscsi::sim