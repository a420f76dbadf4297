#include "sim/exposure.h"

#include <cstring>

namespace tarnscsi::sim {
namespace {

constexpr double kFullFramePixels = double{kSensorWidth} * kSensorHeight;

}  // namespace

double ReadoutMs(const Window& window) { return kFullFrameReadoutMs * ImagePixelCount(window) / kFullFramePixels; }

void Exposure::Start(const ExposureRecipe& next) {
    recipe = next;
    state = State::kExposing;
    exposureEnd = clock.Now() + clock.Span(static_cast<double>(next.window.exposureMs));
    readoutEnd = exposureEnd + clock.Span(ReadoutMs(next.window));
}

void Exposure::AbandonRunning() {
    if (Running()) {
        state = State::kNoImage;
    }
}

Exposure::State Exposure::Current() {
    if (!Running()) {
        return state;
    }
    const auto now = clock.Now();
    if (clock.Instant() || now >= readoutEnd) {
        image = MakeImage(recipe, scenes);
        readOffset = 0;
        state = State::kImageReady;
    } else if (now >= exposureEnd) {
        state = State::kReadingOut;
    }
    return state;
}

std::uint32_t Exposure::Remaining() const {
    return state == State::kImageReady ? static_cast<std::uint32_t>(image.size()) - readOffset : 0;
}

void Exposure::ReadNext(std::uint8_t* out, std::uint32_t count) {
    std::memcpy(out, image.data() + readOffset, count);
    readOffset += count;
}

const std::vector<std::uint8_t>& Exposure::LastImage() {
    Current();
    return image;
}

}  // namespace tarnscsi::sim