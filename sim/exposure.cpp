#include "sim/exposure.h"

#include <cstring>

namespace sim {

void Exposure::Start(const Window& window, ImageKind kind) {
    state_ = State::kExposing;
    due_ = clock_.Now() + clock_.RealDuration(static_cast<double>(window.exposureMs));
    pixelCount_ = ImagePixelCount(window);
    kind_ = kind;
}

void Exposure::AbandonRunning() {
    if (state_ == State::kExposing) {
        state_ = State::kNoImage;
    }
}

Exposure::State Exposure::Current() {
    if (state_ == State::kExposing && clock_.Now() >= due_) {
        image_ = MakeImage(kind_, pixelCount_);
        readOffset_ = 0;
        state_ = State::kImageReady;
    }
    return state_;
}

std::uint32_t Exposure::Remaining() const {
    return state_ == State::kImageReady ? static_cast<std::uint32_t>(image_.size()) - readOffset_
                                        : 0;
}

void Exposure::ReadNext(std::uint8_t* out, std::uint32_t count) {
    std::memcpy(out, image_.data() + readOffset_, count);
    readOffset_ += count;
}

const std::vector<std::uint8_t>& Exposure::LastImage() {
    Current();
    return image_;
}

}  // namespace sim
