// One exposure's window and timing as the camera sees it: the values the
// camera is sent and reports back, in its own units.
#pragma once

#include <cstdint>

namespace tarnscsi {

struct ExposureSettings {
    std::int32_t exposureTime = 0;  // milliseconds
    std::int32_t originX = 0;       // column of the upper-left corner, unbinned pixels
    std::int32_t originY = 0;       // row of the upper-left corner, unbinned pixels
    std::int32_t width = 0;         // unbinned pixels
    std::int32_t height = 0;        // unbinned pixels
    std::int32_t binned = 0;        // non-zero for 2 x 2 binning
    std::int32_t spare = 0;         // carried for the application, never sent

    friend bool operator==(const ExposureSettings&, const ExposureSettings&) = default;
};

}  // namespace tarnscsi
