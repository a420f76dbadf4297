// One exposure of the simulated camera from SCAN to the last byte read: it
// runs for the window's exposure time on the simulated clock, then its image
// is made once and handed out as one ordered stream.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/image_source.h"
#include "sim/sim_clock.h"
#include "sim/window_params.h"

namespace sim {

class Exposure {
public:
    enum class State {
        kNoImage,    // nothing started since the last SET WINDOW, or never
        kExposing,   // SCAN given, exposure time not over
        kImageReady, // image made; part of it may have been read
    };

    explicit Exposure(const SimClock& clock) : clock_(clock) {}

    // Starts a new exposure of `window`; an image not yet read is dropped.
    void Start(const Window& window, ImageKind kind);

    // Drops an exposure that is still running.
    void AbandonRunning();

    // The state now; makes the image when the exposure time is over.
    State Current();

    // Bytes of the ready image not read yet.
    std::uint32_t Remaining() const;

    // Copies the next `count` bytes of the stream (count <= Remaining()).
    void ReadNext(std::uint8_t* out, std::uint32_t count);

    // The image of the last finished exposure (empty if none).
    const std::vector<std::uint8_t>& LastImage();

private:
    const SimClock& clock_;
    State state_ = State::kNoImage;
    SimClock::Clock::time_point due_{};
    std::uint32_t pixelCount_ = 0;
    ImageKind kind_ = ImageKind::kPattern;
    std::vector<std::uint8_t> image_;
    std::uint32_t readOffset_ = 0;
};

}  // namespace sim
