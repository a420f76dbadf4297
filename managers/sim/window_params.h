// The camera's exposure window: decoding and checking the 78-byte window
// list of SET WINDOW, and the list GET WINDOW answers before any was set.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "window_layout.h"
#include "sim/parsed_list.h"

namespace tarnscsi::sim {

// The sensor, in unbinned pixels.
inline constexpr std::int32_t kSensorWidth = 768;
inline constexpr std::int32_t kSensorHeight = 512;
// A binned pixel sums this many sensor pixels along each side.
inline constexpr std::int32_t kBinFactor = 2;

using WindowList = std::array<std::uint8_t, tarnscsi::camera::window::kLength>;

struct Window {
    std::int32_t originX = 0;
    std::int32_t originY = 0;
    std::int32_t width = kSensorWidth;
    std::int32_t height = kSensorHeight;
    bool binned = false;
    std::uint32_t exposureMs = 0;
};

// The window a list describes, or the first field the camera cannot take: a
// wrong descriptor length, window id, resolution pair, composition or fixed
// byte, a window not wholly on the sensor (the origin when it is negative,
// else the size), or odd sides when binned.
ParsedList<Window> ParseWindowList(const WindowList& list);

// A list describing `window`, as the camera reports it.
WindowList EncodeWindowList(const Window& window);

// Pixels in the image of the window: a quarter of them, rounded down per
// side, when binned.
std::uint32_t ImagePixelCount(const Window& window);

}  // namespace tarnscsi::sim