#include "cooling_history.h"

#include <tarnscsi/exposure_session.h>
#include <tarnscsi/units.h>

namespace tarnscsi::alpaca {

void CoolingHistory::Add(const CoolingSample& sample) {
    const CoolingPoint point{SteadySeconds(sample.time), TenthsToCelsius(sample.reading.temperature),
                             DriveToPercent(sample.reading.coolerDrive), sample.setpoint};
    std::lock_guard lock(mutex);
    // The newest point stands for its interval: a later reading within the
    // interval takes its place, so the plot's end is always the latest.
    const bool replaces = points.size() >= 2 &&
                          points.back().seconds - points[points.size() - 2].seconds < kIntervalSeconds &&
                          point.seconds >= points.back().seconds;
    if (replaces) {
        points.back() = point;
    } else {
        // A clock that went back starts the history again.
        if (!points.empty() && point.seconds < points.back().seconds) points.clear();
        points.push_back(point);
    }
    while (!points.empty() && point.seconds - points.front().seconds > kSpanSeconds) points.pop_front();
}

std::vector<CoolingPoint> CoolingHistory::Points() const {
    std::lock_guard lock(mutex);
    return {points.begin(), points.end()};
}

}  // namespace tarnscsi::alpaca
