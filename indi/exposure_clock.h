// The driver's view of a running exposure's time: how much is left, when to
// start asking the camera whether it is done, and when to stop waiting.
#pragma once

#include <chrono>

namespace tarnscsi::indi {

// Time the camera may take after the exposure time to read its image out
// and answer ready; past it the driver gives the exposure up. A setting of
// the driver: old cameras on slow adapters need more than the default.
inline constexpr double kDefaultReadoutAllowanceSeconds = 30;
inline constexpr double kMinReadoutAllowanceSeconds = 1;
inline constexpr double kMaxReadoutAllowanceSeconds = 3600;

class ExposureClock {
public:
    using Clock = std::chrono::steady_clock;

    // An exposure of `seconds`, whose image may take `allowanceSeconds` more.
    void Start(double seconds, Clock::time_point now, double allowanceSeconds = kDefaultReadoutAllowanceSeconds);

    // Seconds of exposure time left, never negative.
    double SecondsLeft(Clock::time_point now) const;

    // The exposure time is over: the camera may be ready.
    bool Due(Clock::time_point now) const { return now >= end; }

    // The readout allowance is over too.
    bool Overdue(Clock::time_point now) const { return now >= BusyUntil(); }

    // When the camera should have finished with this exposure at the latest.
    Clock::time_point BusyUntil() const { return end + allowance; }

    // Time until Due, zero once it is.
    Clock::duration UntilDue(Clock::time_point now) const;

private:
    Clock::time_point end{};
    Clock::duration allowance{};
};

}  // namespace tarnscsi::indi
