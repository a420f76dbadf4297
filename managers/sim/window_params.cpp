#include "sim/window_params.h"

#include "big_endian.h"

namespace tarnscsi::sim {
namespace w = tarnscsi::camera::window;

namespace {

std::int32_t GetSigned32(const WindowList& list, std::size_t offset) {
    return static_cast<std::int32_t>(GetBE32(list.data() + offset));
}

// Offset of the first fixed byte that is wrong, if any.
std::optional<std::size_t> WrongFixedByte(const WindowList& list) {
    for (const auto& fixed : w::kFixedBytes) {
        if (list[fixed.offset] != fixed.value) {
            return fixed.offset;
        }
    }
    return std::nullopt;
}

// The field of a span (origin, size) along one axis that keeps it off the
// sensor, if any: the origin when negative, else the size when it is
// empty or reaches past the edge.
std::optional<std::size_t> SpanFault(std::int32_t origin, std::int32_t size, std::int32_t extent,
                                     std::size_t originOffset, std::size_t sizeOffset) {
    if (origin < 0) {
        return originOffset;
    }
    if (size < 1 || std::int64_t{origin} + size > extent) {
        return sizeOffset;
    }
    return std::nullopt;
}

// The first header field of the descriptor the camera does not take.
std::optional<std::size_t> HeaderFault(const WindowList& list) {
    const std::uint16_t xResolution = GetBE16(list.data() + w::kXResolution);
    const std::uint16_t yResolution = GetBE16(list.data() + w::kYResolution);
    if (GetBE16(list.data() + w::kDescriptorLength) != w::kDescriptorLengthValue) {
        return w::kDescriptorLength;
    }
    if (list[w::kWindowId] != w::kWindowIdValue) {
        return w::kWindowId;
    }
    if (xResolution != w::kResolutionUnbinned && xResolution != w::kResolutionBinned) {
        return w::kXResolution;
    }
    if (yResolution != xResolution) {
        return w::kYResolution;
    }
    if (list[w::kImageComposition] != w::kImageCompositionValue) {
        return w::kImageComposition;
    }
    return WrongFixedByte(list);
}

}  // namespace

ParsedList<Window> ParseWindowList(const WindowList& list) {
    if (const auto fault = HeaderFault(list)) {
        return ParsedList<Window>::Reject(*fault);
    }
    Window window;
    window.originX = GetSigned32(list, w::kOriginX);
    window.originY = GetSigned32(list, w::kOriginY);
    window.width = GetSigned32(list, w::kWidth);
    window.height = GetSigned32(list, w::kHeight);
    window.binned = GetBE16(list.data() + w::kXResolution) == w::kResolutionBinned;
    window.exposureMs = GetBE32(list.data() + w::kExposureTime);

    if (const auto fault = SpanFault(window.originX, window.width, kSensorWidth, w::kOriginX, w::kWidth)) {
        return ParsedList<Window>::Reject(*fault);
    }
    if (const auto fault = SpanFault(window.originY, window.height, kSensorHeight, w::kOriginY, w::kHeight)) {
        return ParsedList<Window>::Reject(*fault);
    }
    if (window.binned && window.width % kBinFactor != 0) {
        return ParsedList<Window>::Reject(w::kWidth);
    }
    if (window.binned && window.height % kBinFactor != 0) {
        return ParsedList<Window>::Reject(w::kHeight);
    }
    return ParsedList<Window>::Accept(window);
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

}  // namespace tarnscsi::sim