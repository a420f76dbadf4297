#include "exposure_window.h"

namespace tarnscsi::indi {

Frame FrameOfChip(const ChipFrame& chip) { return Frame{chip.x, chip.y, chip.width, chip.height, chip.binX}; }

std::string ChipFrameProblem(const ChipFrame& chip) {
    if (std::string binning = BinningProblem(chip.binX, chip.binY); !binning.empty()) return binning;
    if (std::string frame = FrameProblem(FrameOfChip(chip)); !frame.empty()) return frame;
    return {};
}

std::string DescribeChipFrame(const ChipFrame& chip) {
    return std::to_string(chip.width) + " x " + std::to_string(chip.height) + " at (" + std::to_string(chip.x) + ", " +
           std::to_string(chip.y) + "), " + std::to_string(chip.binX) + "x" + std::to_string(chip.binY) + " binning";
}

std::uint32_t ExpectedImageBytes(const ChipFrame& chip) {
    const auto columns = static_cast<std::uint32_t>(BinnedSize(chip.width, chip.binX));
    const auto rows = static_cast<std::uint32_t>(BinnedSize(chip.height, chip.binY));
    return columns * rows * kBytesPerPixel;
}

BinnedPoint HeaderOrigin(const ExposureSettings& sent) {
    const Frame frame = FrameOf(sent);
    return {BinnedOrigin(frame.x, frame.binning), BinnedOrigin(frame.y, frame.binning)};
}

}  // namespace tarnscsi::indi
