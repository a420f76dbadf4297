#include "sim/exposure.h"

#include <cstring>

namespace tarnscsi::sim {
namespace {

constexpr double kFullFramePixels = double{kSensorWidth} * kSensorHeight;

}  // namespace

double ReadoutMs(const Window& window) { return kFullFrameReadoutMs * ImagePixelCount(window) / kFullFramePixels; }

void Exposure::Start(const ExposureRecipe& recipe) {
    recipe_ = recipe;
    state_ = State::kExposing;
    exposureEnd_ = clock_.Now() + clock_.Span(static_cast<double>(recipe.window.exposureMs));
    readoutEnd_ = exposureEnd_ + clock_.Span(ReadoutMs(recipe.window));
}

void Exposure::AbandonRunning() {
    if (Running()) {
        state_ = State::kNoImage;
    }
}

Exposure::State Exposure::Current() {
    if (!Running()) {
        return state_;
    }
    const auto now = clock_.Now();
    if (clock_.Instant() || now >= readoutEnd_) {
        image_ = MakeImage(recipe_, scenes_);
        readOffset_ = 0;
        state_ = State::kImageReady;
    } else if (now >= exposureEnd_) {
        state_ = State::kReadingOut;
    }
    return state_;
}

std::uint32_t Exposure::Remaining() const {
    return state_ == State::kImageReady ? static_cast<std::uint32_t>(image_.size()) - readOffset_ : 0;
}

void Exposure::ReadNext(std::uint8_t* out, std::uint32_t count) {
    std::memcpy(out, image_.data() + readOffset_, count);
    readOffset_ += count;
}

const std::vector<std::uint8_t>& Exposure::LastImage() {
    Current();
    return image_;
}

}  // namespace tarnscsi::sim