#include "module_support.h"

#include <algorithm>
#include <cmath>

namespace tarnscsi::simmodule {
namespace {

constexpr int kBytesPerPixel = 2;
constexpr double kMadToSigma = 1.4826;

}  // namespace

void SimModuleTest::SetUp() {
    Disconnect();
    SimReset();
    const char* error = nullptr;
    ASSERT_EQ(Connect(&error), 1) << (error != nullptr ? error : "");
}

void SimModuleTest::TearDown() {
    Disconnect();
    SimReset();
}

std::int32_t ReadyAfter(std::chrono::microseconds advance) {
    SimAdvanceClock(static_cast<std::uint64_t>(advance.count()));
    return Ready();
}

Frame TakeFrame(const Shot& shot) {
    Frame frame;
    if (Expose(shot.milliseconds, 0, shot.binned ? 1 : 0, shot.width, shot.height, shot.originX, shot.originY) != 1) {
        ADD_FAILURE() << "exposure refused";
        return frame;
    }
    if (Ready() != 1) {
        ADD_FAILURE() << "not ready at once (the time scale must be 0)";
        return frame;
    }
    const int divisor = shot.binned ? 2 : 1;
    frame.width = shot.width / divisor;
    frame.height = shot.height / divisor;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(frame.width) * frame.height * kBytesPerPixel);
    if (Download(bytes.data()) != 1) {
        ADD_FAILURE() << "download failed";
        return Frame{};
    }
    frame.pixels.resize(bytes.size() / kBytesPerPixel);
    for (std::size_t i = 0; i < frame.pixels.size(); ++i) {
        frame.pixels[i] = static_cast<std::uint16_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
    }
    return frame;
}

Frame TakeFrameAt(std::int32_t tenths, const Shot& shot) {
    EXPECT_EQ(SetTemperature(tenths), 1);
    std::int32_t drive = 0;
    EXPECT_EQ(GetCoolingInfo(&drive), tenths) << "the time scale must be 0";
    return TakeFrame(shot);
}

double Median(const std::vector<std::uint16_t>& values) {
    std::vector<std::uint16_t> copy = values;
    const auto middle = copy.begin() + static_cast<std::ptrdiff_t>(copy.size() / 2);
    std::nth_element(copy.begin(), middle, copy.end());
    return *middle;
}

double RobustSigma(const std::vector<std::uint16_t>& values) {
    const double median = Median(values);
    std::vector<std::uint16_t> deviations(values.size());
    std::transform(values.begin(), values.end(), deviations.begin(),
                   [median](std::uint16_t v) { return static_cast<std::uint16_t>(std::abs(v - median)); });
    return kMadToSigma * Median(deviations);
}

}  // namespace tarnscsi::simmodule