// What the observer tells about the frames, written into their FITS headers.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarnscsi::imaging {

struct FrameMetadata {
    std::optional<std::string> object;      // OBJECT
    std::optional<std::string> filter;      // FILTER
    std::optional<std::string> observer;    // OBSERVER
    std::optional<std::string> telescope;   // TELESCOP
    std::optional<double> focalLength;      // FOCALLEN, mm
    std::optional<double> aperture;         // APTDIA, mm
    std::optional<double> electronsPerAdu;  // EGAIN
    std::vector<std::string> extraCards;    // KEY=VALUE, checked
};

}  // namespace tarnscsi::imaging
