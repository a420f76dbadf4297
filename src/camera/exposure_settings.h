// One exposure's window and timing as the camera sees it.
#pragma once

#include <cstdint>

struct ExposureSettings {
    std::int32_t exposureTime = 0;  // camera units (milliseconds on our cameras)
    std::int32_t originX = 0;       // column of the upper-left corner, unbinned pixels
    std::int32_t originY = 0;       // row of the upper-left corner, unbinned pixels
    std::int32_t width = 0;         // unbinned pixels
    std::int32_t height = 0;        // unbinned pixels
    std::int32_t binned = 0;        // non-zero for 2 x 2 binning
    std::int32_t spare = 0;         // carried for the application, never sent

    friend bool operator==(const ExposureSettings&, const ExposureSettings&) = default;
};
