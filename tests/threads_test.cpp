// The exports from several threads at once, as imaging applications call
// them (a timer thread polling the temperature while another downloads):
// each call runs whole, so every frame reported good is exactly one
// exposure's image, and connecting and disconnecting from many threads
// never touches a connection another call is using.
#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "support/module_fixture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Window {
    int width, height, x, y;
    constexpr std::size_t Size() const {
        return static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 2;
    }
};

// The downloader's window and the one another thread keeps programming.
constexpr Window kMine{64, 48, 0, 0};
constexpr Window kOther{32, 16, 100, 100};
constexpr std::size_t kLargest = kMine.Size();
constexpr std::uint8_t kGuard = 0xAA;

int ExposeWindow(const Window& w) { return Expose(0, 0, 0, w.width, w.height, w.x, w.y); }

// The image of one window, taken alone; guard bytes after it up to kLargest.
Bytes ReferenceImage(const Window& w) {
    EXPECT_EQ(ExposeWindow(w), 1);
    Bytes image(kLargest, kGuard);
    EXPECT_EQ(Download(image.data()), 1);
    return image;
}

}  // namespace

using ThreadsTest = ModuleTest;

TEST_F(ThreadsTest, FramesDownloadedWhileOtherThreadsPollAndExposeAreExact) {
    static_assert(kOther.Size() < kMine.Size());
    ConnectOk();
    const Bytes mine = ReferenceImage(kMine);
    const Bytes other = ReferenceImage(kOther);
    ASSERT_NE(mine, other);

    constexpr int kFrames = 300;
    std::atomic<bool> done{false};
    std::atomic<int> badReadings{0};
    auto poll = [&] {
        while (!done) {
            int32_t cooling = -1;
            if (GetCoolingInfo(&cooling) == TARNSCSI_NO_READING || cooling < 0 || cooling > 255) ++badReadings;
            Ready();
        }
    };
    auto exposeOther = [&] {
        while (!done) {
            if (ExposeWindow(kOther) != 1) ++badReadings;
        }
    };
    std::vector<std::thread> others;
    others.emplace_back(poll);
    others.emplace_back(poll);
    others.emplace_back(exposeOther);

    int good = 0;
    int exact = 0;
    for (int frame = 0; frame < kFrames; ++frame) {
        ExposeWindow(kMine);
        Bytes image(kLargest, kGuard);
        if (Download(image.data()) != 1) continue;
        ++good;
        // Whichever exposure it was, it is that exposure's image, whole.
        if (image == mine || image == other) ++exact;
    }
    done = true;
    for (std::thread& thread : others) thread.join();

    EXPECT_EQ(exact, good) << "frames reported good but mixed from two exposures";
    EXPECT_EQ(good, kFrames) << "with an instant clock every download finds its image";
    EXPECT_EQ(badReadings, 0);
}

TEST_F(ThreadsTest, ConnectAndDisconnectStormsFromFourThreadsLeaveAWorkingModule) {
    constexpr int kRounds = 200;
    auto storm = [](int seed) {
        Bytes image(kLargest);
        for (int round = 0; round < kRounds; ++round) {
            const char* error = nullptr;
            switch ((round + seed) % 4) {
                case 0: Connect(&error); break;
                case 1: Disconnect(); break;
                case 2: Download(image.data()); break;
                default: ExposeWindow(kMine); break;
            }
        }
    };
    std::vector<std::thread> threads;
    for (int seed = 0; seed < 4; ++seed) threads.emplace_back(storm, seed);
    for (std::thread& thread : threads) thread.join();

    // Whatever the interleaving, the module ends in one piece and the camera
    // is not left claimed by a lost connection.
    Disconnect();
    ConnectOk();
    EXPECT_EQ(ExposeWindow(kMine), 1);
    Bytes image(kLargest);
    EXPECT_EQ(Download(image.data()), 1);
}
