// The cooler's last hour for the camera page: the readings the device takes
// anyway (for its clients, its status and its warm-up), thinned to one
// point per interval so that an hour is a few hundred points whatever the
// clients' polling rate.
#pragma once

#include <chrono>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

#include "camera_device.h"

namespace tarnscsi::alpaca {

struct CoolingPoint {
    double seconds = 0;  // on the device's clock
    double temperature = 0;
    double power = 0;  // percent
    std::optional<double> setpoint;
};

class CoolingHistory {
public:
    static constexpr double kSpanSeconds = 3600;
    static constexpr double kIntervalSeconds = 10;

    void Add(const CoolingSample& sample);
    // Oldest first, all within kSpanSeconds of the newest.
    std::vector<CoolingPoint> Points() const;

private:
    mutable std::mutex mutex;
    std::deque<CoolingPoint> points;
};

}  // namespace tarnscsi::alpaca
