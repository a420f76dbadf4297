// The images of the simulated camera through Download: dark frames that
// follow temperature and time, hot pixels, binning on the chip, a covered
// telescope, and images fixed by the seed.
#include <algorithm>
#include <cmath>

#include "module_support.h"

namespace tarnscsi::simmodule {
namespace {

constexpr std::int32_t kMinute = 60000;
constexpr std::int32_t kCold = -100;  // tenths of a degree
constexpr std::int32_t kWarm = 200;
// The camera's electronics: bias level and read noise in counts, electrons
// per count.
constexpr double kBias = 1000.0;
constexpr double kReadNoise = 10.0;
constexpr double kGain = 1.5;
// Pixels this close to the top may have been clipped.
constexpr double kNearTop = 60000.0;
constexpr double kNearTopMargin = 1000.0;
// The sensor has a few hot pixels, at most this many.
constexpr std::size_t kMostHotPixels = 20;

double Mean(const std::vector<std::uint16_t>& values) {
    double sum = 0.0;
    for (const std::uint16_t v : values) {
        sum += v;
    }
    return sum / static_cast<double>(values.size());
}

double Sigma(const std::vector<std::uint16_t>& values) {
    const double mean = Mean(values);
    double sum = 0.0;
    for (const std::uint16_t v : values) {
        sum += (v - mean) * (v - mean);
    }
    return std::sqrt(sum / static_cast<double>(values.size()));
}

// Pixels brighter than the background by `sigmas` noise sigmas.
std::vector<std::size_t> Outliers(const Frame& frame, double sigmas) {
    const double threshold = Median(frame.pixels) + sigmas * RobustSigma(frame.pixels);
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < frame.pixels.size(); ++i) {
        if (frame.pixels[i] > threshold) {
            found.push_back(i);
        }
    }
    return found;
}

// Share of `bright` pixels of one frame that are also outliers in `other`.
double SharedShare(const std::vector<std::size_t>& bright, const Frame& other, double sigmas) {
    const auto outliers = Outliers(other, sigmas);
    const auto shared = std::count_if(bright.begin(), bright.end(), [&](std::size_t i) {
        return std::binary_search(outliers.begin(), outliers.end(), i);
    });
    return bright.empty() ? 0.0 : static_cast<double>(shared) / static_cast<double>(bright.size());
}

class ModuleImageTest : public SimModuleTest {};

TEST_F(ModuleImageTest, DarkFramesGrowWithSensorTemperatureAndExposureTime) {
    SimSetImageKind(SIM_IMAGE_DARK);
    const auto level = [](std::int32_t tenths, std::int32_t ms) { return Median(TakeFrameAt(tenths, {ms}).pixels); };
    const double bias = level(kWarm, 0);
    const double warm = level(kWarm, kMinute) - bias;
    const double sixCooler = level(kWarm - 60, kMinute) - bias;
    const double twiceAsLong = level(kWarm, 2 * kMinute) - bias;
    const double cold = level(kCold, kMinute) - bias;

    EXPECT_GT(warm, 50) << "a minute at +20 C shows dark current";
    EXPECT_NEAR(warm / sixCooler, 2.0, 0.15) << "doubling for every 6 C";
    EXPECT_NEAR(twiceAsLong / warm, 2.0, 0.15) << "growing with exposure time";
    EXPECT_GT(cold, 0);
    EXPECT_LT(cold, sixCooler / 8) << "24 C below that: a sixteenth";
}

TEST_F(ModuleImageTest, AFewHotPixelsStayPutAndWarmWithTheSensor) {
    SimSetImageKind(SIM_IMAGE_DARK);
    constexpr std::int32_t kSeconds5 = 5000;
    const Frame warm = TakeFrameAt(kWarm, {kSeconds5});
    const Frame again = TakeFrame({kSeconds5});
    const Frame cooler = TakeFrameAt(kWarm - 120, {kSeconds5});  // a quarter of the dark current
    const auto hot = Outliers(warm, 10);
    EXPECT_GE(hot.size(), 3u);
    EXPECT_LE(hot.size(), 100u);
    EXPECT_NE(warm.pixels, again.pixels);
    EXPECT_EQ(Outliers(again, 10), hot) << "hot pixels belong to the sensor";
    const double warmBackground = Median(warm.pixels);
    const double coolerBackground = Median(cooler.pixels);
    for (const std::size_t i : hot) {
        EXPECT_GT(warm.pixels[i] - warmBackground, 2 * (cooler.pixels[i] - coolerBackground)) << "pixel " << i;
    }
}

TEST_F(ModuleImageTest, ABiasFrameHasOneBiasLevelAndOneReadNoiseBinnedOrNot) {
    SimSetImageKind(SIM_IMAGE_SKY);
    for (const bool binned : {false, true}) {
        SCOPED_TRACE(binned ? "binned" : "unbinned");
        const Frame bias = TakeFrame({0, binned});
        EXPECT_NEAR(Mean(bias.pixels), kBias, 0.5);
        EXPECT_NEAR(Sigma(bias.pixels), kReadNoise, 0.3);
    }
}

// The charge of a 2 x 2 cell is read once: the binned pixel is the bias
// plus the four pixels' signals (seen above the bias in an unbinned frame of
// the same sky), held at the converter's top; its noise is the shot noise
// of four pixels' charge plus one read noise.
TEST_F(ModuleImageTest, ABinnedPixelHoldsTheChargeOfFourPixelsReadOnce) {
    SimSetImageKind(SIM_IMAGE_SKY);
    ASSERT_EQ(SetTemperature(kCold), 1);
    SimSetSeed(7);
    const Frame full = TakeFrame({kMinute});
    for (const Shot& shot : {Shot{kMinute, true}, Shot{kMinute, true, 200, 100, 101, 51}}) {
        SCOPED_TRACE(shot.originX);
        const Frame binned = TakeFrame(shot);
        ASSERT_EQ(binned.width, shot.width / 2);
        double offBy = 0.0;
        int compared = 0;
        int heldAtTop = 0;
        int wrongTop = 0;
        for (int y = 0; y < binned.height; ++y) {
            for (int x = 0; x < binned.width; ++x) {
                const int left = shot.originX + 2 * x;
                const int top = shot.originY + 2 * y;
                const std::uint16_t four[] = {full.At(left, top), full.At(left + 1, top), full.At(left, top + 1),
                                              full.At(left + 1, top + 1)};
                if (*std::max_element(four, four + 4) >= kNearTop) {
                    continue;
                }
                const double expected =
                    kBias + (four[0] - kBias) + (four[1] - kBias) + (four[2] - kBias) + (four[3] - kBias);
                if (expected < kNearTop) {
                    offBy += binned.At(x, y) - expected;
                    ++compared;
                } else if (expected > kSaturated + kNearTopMargin) {
                    ++heldAtTop;
                    wrongTop += binned.At(x, y) != kSaturated;
                }
            }
        }
        ASSERT_GT(compared, 0);
        EXPECT_NEAR(offBy / compared, 0.0, 1.0) << "one bias level, four signals";
        EXPECT_EQ(wrongTop, 0);
        if (shot.width == kSensorWidth) {
            EXPECT_GT(heldAtTop, 0) << "cells of unsaturated pixels that saturate when binned";
        }
    }

    // The background's noise, from the difference of two binned frames of
    // the same sky (free of stars and of the sky's gradient).
    const Frame first = TakeFrame({kMinute, true});
    const Frame second = TakeFrame({kMinute, true});
    std::vector<std::uint16_t> difference(first.pixels.size());
    for (std::size_t i = 0; i < difference.size(); ++i) {
        difference[i] = static_cast<std::uint16_t>(first.pixels[i] - second.pixels[i] + 32768);
    }
    const double pixelElectrons = (Median(full.pixels) - kBias) * kGain;
    const double expectedNoise = std::sqrt(4 * pixelElectrons + kReadNoise * kGain * kReadNoise * kGain) / kGain;
    EXPECT_NEAR(RobustSigma(difference) / std::sqrt(2.0), expectedNoise, 0.05 * expectedNoise);
}

// The camera has no shutter: a dark frame is dark when the telescope is.
TEST_F(ModuleImageTest, ACoveredTelescopeShowsNoStarsOnlyTheDark) {
    struct Way {
        const char* name;
        void (*cover)(bool);
    };
    const Way ways[] = {
        {"SimSetCovered", [](bool on) { SimSetCovered(on ? 1 : 0); }},
        {"covered=", [](bool on) { EXPECT_EQ(SimConfigure(on ? "covered=yes" : "covered=no"), 0); }},
    };
    constexpr std::int32_t kSeconds10 = 10000;
    ASSERT_EQ(SetTemperature(kCold), 1);
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        SimSetImageKind(SIM_IMAGE_DARK);
        SimSetSeed(11);
        const Frame dark = TakeFrame({kSeconds10});
        SimSetImageKind(SIM_IMAGE_SKY);
        SimSetSeed(11);
        way.cover(true);
        const Frame covered = TakeFrame({kSeconds10});
        EXPECT_EQ(covered.pixels, dark.pixels) << "the covered sky is a dark frame";
        EXPECT_LE(Outliers(covered, 30).size(), kMostHotPixels) << "no stars, hot pixels at most";
        way.cover(false);
        EXPECT_GT(Outliers(TakeFrame({kSeconds10}), 30).size(), 100u) << "uncovered, the stars are back";
    }
}

TEST_F(ModuleImageTest, TheSameSeedGivesTheSameImageAndTheNoiseChangesFromFrameToFrame) {
    SimSetImageKind(SIM_IMAGE_SKY);
    SimSetSeed(11);
    const Frame first = TakeFrame({10000});
    const Frame second = TakeFrame({10000});
    SimSetSeed(11);
    const Frame repeat = TakeFrame({10000});
    SimSetSeed(12);
    const Frame otherSky = TakeFrame({10000});

    EXPECT_EQ(first.pixels, repeat.pixels);
    EXPECT_NE(first.pixels, second.pixels);

    const auto stars = Outliers(first, 30);
    ASSERT_GT(stars.size(), 100u);
    EXPECT_GT(SharedShare(stars, second, 10), 0.95) << "the same stars in the next frame";
    EXPECT_LT(SharedShare(stars, otherSky, 10), 0.5) << "another seed, another star field";

    // Two frames of one sky differ by noise alone: sqrt(2) times a frame's.
    std::vector<std::uint16_t> difference(first.pixels.size());
    for (std::size_t i = 0; i < difference.size(); ++i) {
        difference[i] = static_cast<std::uint16_t>(first.pixels[i] - second.pixels[i] + 32768);
    }
    EXPECT_NEAR(Median(difference), 32768, 1);
    EXPECT_NEAR(RobustSigma(difference) / RobustSigma(first.pixels), std::sqrt(2.0), 0.2);
}

}  // namespace
}  // namespace tarnscsi::simmodule