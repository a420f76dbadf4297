#include "imaging/frame_type.h"

namespace tarnscsi::imaging {

const char* FitsImageType(ImageType type) {
    switch (type) {
        case ImageType::kDark: return "Dark Frame";
        case ImageType::kBias: return "Bias Frame";
        case ImageType::kFlat: return "Flat Frame";
        case ImageType::kLight: break;
    }
    return "Light Frame";
}

std::optional<ImageType> ImageTypeNamed(const std::string& name) {
    for (std::size_t i = 0; i < kImageTypeNames.size(); ++i) {
        if (kImageTypeNames[i] == name) return static_cast<ImageType>(i);
    }
    return std::nullopt;
}

}  // namespace tarnscsi::imaging
