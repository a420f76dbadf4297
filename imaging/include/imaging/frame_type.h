// The kinds of frame a camera takes, by the words the programs accept for
// them (light, dark, bias, flat) and by the IMAGETYP value of their FITS
// header.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace tarnscsi::imaging {

enum class ImageType { kLight, kDark, kBias, kFlat };

// The words for the types, in the order of ImageType.
inline constexpr std::array<std::string_view, 4> kImageTypeNames = {"light", "dark", "bias", "flat"};

// The IMAGETYP value imaging software recognises, e.g. "Dark Frame".
const char* FitsImageType(ImageType type);

// One of kImageTypeNames as its type; nothing for any other word.
std::optional<ImageType> ImageTypeNamed(const std::string& name);

}  // namespace tarnscsi::imaging
