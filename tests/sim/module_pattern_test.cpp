// The test pattern through Download: numbered by sensor position and binned
// as the chip bins, so that the image of any window is the same crop of the
// full frame, and geometry can be checked by comparing the two. (The values
// themselves are checked byte by byte in the camera's own tests and the
// tool's.)
#include "module_support.h"

namespace tarnscsi::simmodule {
namespace {

// The shot's window cut from a full unbinned frame; binned, each 2 x 2
// cell's four values summed.
Frame Crop(const Frame& full, const Shot& shot) {
    const int step = shot.binned ? 2 : 1;
    Frame crop{shot.width / step, shot.height / step, {}};
    for (int y = 0; y < crop.height; ++y) {
        for (int x = 0; x < crop.width; ++x) {
            std::uint32_t sum = 0;
            for (int dy = 0; dy < step; ++dy) {
                for (int dx = 0; dx < step; ++dx) {
                    sum += full.At(shot.originX + x * step + dx, shot.originY + y * step + dy);
                }
            }
            crop.pixels.push_back(static_cast<std::uint16_t>(sum));
        }
    }
    return crop;
}

class ModulePatternTest : public SimModuleTest {};

TEST_F(ModulePatternTest, SubframesAndBinnedFramesAreCropsOfTheFullFrame) {
    const Frame full = TakeFrame({});
    ASSERT_NE(full.At(0, 0), full.At(1, 0));
    ASSERT_NE(full.At(0, 0), full.At(0, 1));
    const Shot shots[] = {
        {0, false, 200, 100, 101, 51},  // odd origin
        {0, false, 1, 1, kSensorWidth - 1, kSensorHeight - 1},
        {0, true},                     // the whole sensor, binned
        {0, true, 200, 100, 101, 51},  // binned cells start at the odd origin
        {0, true, 201, 101, 100, 50},  // odd sides: the last column and row are not read
        {0, true, 2, 2, kSensorWidth - 2, kSensorHeight - 2},
    };
    for (const Shot& shot : shots) {
        SCOPED_TRACE(testing::Message() << (shot.binned ? "binned " : "") << shot.width << " x " << shot.height
                                        << " at " << shot.originX << ", " << shot.originY);
        const Frame frame = TakeFrame(shot);
        const Frame crop = Crop(full, shot);
        EXPECT_EQ(frame.width, crop.width);
        EXPECT_EQ(frame.pixels, crop.pixels);
    }
}

}  // namespace
}  // namespace tarnscsi::simmodule
