#include "sim/window_params.h"

#include "common/big_endian.h"

namespace sim {
namespace w = camera::window;

namespace {

constexpr std::int32_t kBinFactor = 2;

std::int32_t GetSigned32(const WindowList& list, std::size_t offset) {
    return static_cast<std::int32_t>(GetBE32(list.data() + offset));
}

bool FixedBytesPresent(const WindowList& list) {
    for (const auto& fixed : w::kFixedBytes) {
        if (list[fixed.offset] != fixed.value) {
            return false;
        }
    }
    return true;
}

// origin >= 0, size >= 1, origin + size within the sensor's extent.
bool SpanFits(std::int32_t origin, std::int32_t size, std::int32_t extent) {
    return origin >= 0 && size >= 1 && std::int64_t{origin} + size <= extent;
}

}  // namespace

std::optional<Window> ParseWindowList(const WindowList& list) {
    const std::uint16_t xResolution = GetBE16(list.data() + w::kXResolution);
    const std::uint16_t yResolution = GetBE16(list.data() + w::kYResolution);
    const bool resolutionKnown =
        xResolution == w::kResolutionUnbinned || xResolution == w::kResolutionBinned;
    if (GetBE16(list.data() + w::kDescriptorLength) != w::kDescriptorLengthValue ||
        list[w::kWindowId] != w::kWindowIdValue || !resolutionKnown ||
        yResolution != xResolution || list[w::kImageComposition] != w::kImageCompositionValue ||
        !FixedBytesPresent(list)) {
        return std::nullopt;
    }

    Window window;
    window.originX = GetSigned32(list, w::kOriginX);
    window.originY = GetSigned32(list, w::kOriginY);
    window.width = GetSigned32(list, w::kWidth);
    window.height = GetSigned32(list, w::kHeight);
    window.binned = xResolution == w::kResolutionBinned;
    window.exposureMs = GetBE32(list.data() + w::kExposureTime);

    if (!SpanFits(window.originX, window.width, kSensorWidth) ||
        !SpanFits(window.originY, window.height, kSensorHeight)) {
        return std::nullopt;
    }
    if (window.binned && (window.width % kBinFactor != 0 || window.height % kBinFactor != 0)) {
        return std::nullopt;
    }
    return window;
}

WindowList EncodeWindowList(const Window& window) {
    WindowList list{};
    PutBE16(list.data() + w::kDescriptorLength, w::kDescriptorLengthValue);
    list[w::kWindowId] = w::kWindowIdValue;
    const std::uint16_t resolution = window.binned ? w::kResolutionBinned : w::kResolutionUnbinned;
    PutBE16(list.data() + w::kXResolution, resolution);
    PutBE16(list.data() + w::kYResolution, resolution);
    PutBE32(list.data() + w::kOriginX, static_cast<std::uint32_t>(window.originX));
    PutBE32(list.data() + w::kOriginY, static_cast<std::uint32_t>(window.originY));
    PutBE32(list.data() + w::kWidth, static_cast<std::uint32_t>(window.width));
    PutBE32(list.data() + w::kHeight, static_cast<std::uint32_t>(window.height));
    list[w::kImageComposition] = w::kImageCompositionValue;
    PutBE32(list.data() + w::kExposureTime, window.exposureMs);
    for (const auto& fixed : w::kFixedBytes) {
        list[fixed.offset] = fixed.value;
    }
    return list;
}

std::uint32_t ImagePixelCount(const Window& window) {
    const auto width = static_cast<std::uint32_t>(window.width);
    const auto height = static_cast<std::uint32_t>(window.height);
    return window.binned ? (width / kBinFactor) * (height / kBinFactor) : width * height;
}

}  // namespace sim
