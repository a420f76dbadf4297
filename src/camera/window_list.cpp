#include "camera/window_list.h"

#include <cstring>

#include <tarnscsi/frame.h>

#include "big_endian.h"
#include "window_layout.h"

namespace tarnscsi::camera {

// The public face states the camera's pixel size for front-ends, which do
// not see the protocol; both say the same.
static_assert(tarnscsi::kBytesPerPixel == window::kBytesPerPixel);

namespace {

std::uint32_t Bits(std::int32_t value) { return static_cast<std::uint32_t>(value); }
std::int32_t Signed(std::uint32_t value) { return static_cast<std::int32_t>(value); }

}  // namespace

void EncodeWindow(const ExposureSettings& settings, std::uint8_t* list) {
    using namespace window;
    std::memset(list, 0, kLength);
    PutBE16(list + kDescriptorLength, kDescriptorLengthValue);
    list[kWindowId] = kWindowIdValue;
    const std::uint16_t resolution = settings.binned ? kResolutionBinned : kResolutionUnbinned;
    PutBE16(list + kXResolution, resolution);
    PutBE16(list + kYResolution, resolution);
    PutBE32(list + kOriginX, Bits(settings.originX));
    PutBE32(list + kOriginY, Bits(settings.originY));
    PutBE32(list + kWidth, Bits(settings.width));
    PutBE32(list + kHeight, Bits(settings.height));
    list[kImageComposition] = kImageCompositionValue;
    PutBE32(list + kExposureTime, Bits(settings.exposureTime));
    for (const FixedByte& fixed : kFixedBytes) list[fixed.offset] = fixed.value;
}

ExposureSettings DecodeWindow(const std::uint8_t* list) {
    using namespace window;
    ExposureSettings settings;
    settings.exposureTime = Signed(GetBE32(list + kExposureTime));
    settings.originX = Signed(GetBE32(list + kOriginX));
    settings.originY = Signed(GetBE32(list + kOriginY));
    settings.width = Signed(GetBE32(list + kWidth));
    settings.height = Signed(GetBE32(list + kHeight));
    settings.binned = GetBE16(list + kXResolution) == kResolutionBinned ? 1 : 0;
    settings.spare = 0;
    return settings;
}

std::uint32_t ImageByteCount(const ExposureSettings& settings) {
    const std::uint32_t width = Bits(settings.width);
    const std::uint32_t height = Bits(settings.height);
    const std::uint32_t pixels = settings.binned ? (height / 2) * (width / 2) : height * width;
    return pixels * window::kBytesPerPixel;
}

std::uint64_t ExactImageByteCount(const ExposureSettings& settings) {
    const std::uint64_t width = Bits(settings.width);
    const std::uint64_t height = Bits(settings.height);
    const std::uint64_t pixels = settings.binned ? (height / 2) * (width / 2) : height * width;
    return pixels * window::kBytesPerPixel;
}

bool ImageSizeWraps(const ExposureSettings& settings) {
    return ExactImageByteCount(settings) != ImageByteCount(settings);
}

bool WindowFits(const ExposureSettings& window, std::uint64_t capacity) {
    return !ImageSizeWraps(window) && ExactImageByteCount(window) <= capacity;
}

ExposureSettings EvenForBinning(ExposureSettings settings) {
    if (settings.binned) {
        settings.width = Signed(Bits(settings.width) & ~1u);
        settings.height = Signed(Bits(settings.height) & ~1u);
    }
    return settings;
}

}  // namespace tarnscsi::camera