// One exposure of the simulated camera from SCAN to the last byte read: it
// exposes for the window's exposure time on the simulated clock, then reads
// the sensor out for a time that grows with the number of pixels read; when
// the readout ends its image is made once and handed out as one ordered
// stream. An Instant clock ends a running exposure at once, also one begun
// before the clock became Instant.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/image_source.h"
#include "sim/sim_clock.h"
#include "sim/sky_scene.h"
#include "sim/window_params.h"

namespace tarnscsi::sim {

// Readout of a full unbinned frame, in simulated milliseconds; a window
// takes this in proportion to the pixels of its image.
inline constexpr double kFullFrameReadoutMs = 1000.0;

class Exposure {
public:
    enum class State {
        kNoImage,     // nothing started since the last SET WINDOW, or never
        kExposing,    // SCAN given, exposure time not over
        kReadingOut,  // exposure over, sensor being read
        kImageReady,  // image made; part of it may have been read
    };

    Exposure(const SimClock& simClock, SceneCache& sceneCache) : clock(simClock), scenes(sceneCache) {}

    // Starts a new exposure; one still running is dropped, and so is an
    // image not yet read.
    void Start(const ExposureRecipe& recipe);

    // Drops an exposure that is still exposing or reading out.
    void AbandonRunning();
    // Drops the exposure, running or finished: nothing is left to read
    // (LastImage still has the last image made).
    void Drop() { state = State::kNoImage; }

    // The state now; makes the image when the readout is over.
    State Current();

    // Bytes of the ready image not read yet.
    std::uint32_t Remaining() const;

    // Copies the next `count` bytes of the stream (count <= Remaining()).
    void ReadNext(std::uint8_t* out, std::uint32_t count);

    // The image of the last finished exposure (empty if none).
    const std::vector<std::uint8_t>& LastImage();

private:
    bool Running() const { return state == State::kExposing || state == State::kReadingOut; }

    const SimClock& clock;
    SceneCache& scenes;
    State state = State::kNoImage;
    ExposureRecipe recipe;
    SimClock::Time exposureEnd{};
    SimClock::Time readoutEnd{};
    std::vector<std::uint8_t> image;
    std::uint32_t readOffset = 0;
};

// Simulated readout time of the window's image.
double ReadoutMs(const Window& window);

}  // namespace tarnscsi::sim