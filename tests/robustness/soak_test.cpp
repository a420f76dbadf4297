// Long runs against the simulated camera, measured rather than assumed:
// open descriptors, the manager library's mappings, the number of mapped
// libraries and the resident set are taken after a warm-up and again at the
// end, and must not have grown. This program does not link the manager: the
// module loads it by name and must unload it again, so after the last
// Disconnect it is not mapped at all.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <tarnscsi/tarnscsi.h>
#include "common/dynamic_library.h"
#include "sim_control.h"

namespace {

constexpr int kConnectCycles = 10000;
constexpr int kExposures = 1000;
constexpr int kWarmUpCycles = 100;
constexpr int kWarmUpExposures = 20;
constexpr int kImageCheckInterval = 100;
constexpr int kMaxReadyPolls = 1000;
constexpr int kSensorWidth = 768;
constexpr int kSensorHeight = 512;
constexpr std::uint32_t kFullFrameBytes = kSensorWidth * kSensorHeight * 2;

// Allowed growth of the resident set, for the allocator's own noise. A leak
// of a single small allocation per cycle (64 bytes and its header, 80 bytes)
// over 10,000 cycles is 800,000 bytes and would exceed it.
constexpr long kResidentTolerance = 512 * 1024;
constexpr long kSmallestLeakPerCycle = 80;
static_assert(kSmallestLeakPerCycle * kConnectCycles > kResidentTolerance);

constexpr char kManagerName[] = "libwnaspi32.so";

// ASan keeps freed memory in quarantine and TSan keeps shadow for every byte
// touched, so their resident sets grow by design; there LeakSanitizer (under
// ASan) takes the place of the resident-set check.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kResidentSetMeaningful = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kResidentSetMeaningful = false;
#else
constexpr bool kResidentSetMeaningful = true;
#endif
#else
constexpr bool kResidentSetMeaningful = true;
#endif

struct Footprint {
    int descriptors = 0;
    int managerMappings = 0;          // lines of /proc/self/maps naming the manager
    std::set<std::string> libraries;  // every shared object mapped
    long residentBytes = 0;
};

int OpenDescriptors() {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(dir);
    return count - 1;  // the directory's own descriptor
}

long ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

Footprint Measure() {
    Footprint footprint;
    footprint.descriptors = OpenDescriptors();
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        const auto path = line.find('/');
        if (path == std::string::npos) continue;
        const std::string file = line.substr(path);
        if (file.find(kManagerName) != std::string::npos) ++footprint.managerMappings;
        if (file.find(".so") != std::string::npos) footprint.libraries.insert(file);
    }
    footprint.residentBytes = ResidentBytes();
    return footprint;
}

void ExpectSame(const Footprint& before, const Footprint& after) {
    EXPECT_EQ(after.descriptors, before.descriptors);
    EXPECT_EQ(after.managerMappings, before.managerMappings);
    EXPECT_EQ(after.libraries, before.libraries);
    if (kResidentSetMeaningful) {
        EXPECT_LE(after.residentBytes - before.residentBytes, kResidentTolerance)
            << "resident set " << before.residentBytes << " -> " << after.residentBytes << " bytes";
    }
    std::ostringstream figures;
    figures << "descriptors " << before.descriptors << " -> " << after.descriptors << ", manager mappings "
            << before.managerMappings << " -> " << after.managerMappings << ", libraries " << before.libraries.size()
            << " -> " << after.libraries.size() << ", resident set " << before.residentBytes / 1024 << " -> "
            << after.residentBytes / 1024 << " KiB";
    ::testing::Test::RecordProperty("footprint", figures.str());
    std::printf("%s\n", figures.str().c_str());
}

bool ConnectOnce() {
    const char* error = nullptr;
    const bool ok = Connect(&error) == 1;
    if (!ok) ADD_FAILURE() << "Connect failed: " << (error ? error : "");
    return ok;
}

// Our own reference to the manager, for its control interface. While it
// exists the manager stays loaded whatever the module does.
class ManagerControl {
public:
    bool Loaded() const {
        return library.IsLoaded() && reset != nullptr && lastImage != nullptr && clearLog != nullptr;
    }
    void Reset() const { reset(); }
    // The manager records every request up to 65536 (about 20 MiB); a
    // long run clears the record so that only our own growth could show.
    void ClearLog() const { clearLog(); }
    std::vector<std::uint8_t> LastImage() const {
        std::vector<std::uint8_t> image(lastImage(nullptr, 0));
        lastImage(image.data(), static_cast<std::uint32_t>(image.size()));
        return image;
    }

private:
    const tarnscsi::DynamicLibrary library{kManagerName};
    decltype(&SimReset) reset = library.Symbol<decltype(&SimReset)>("SimReset");
    decltype(&SimLastImage) lastImage = library.Symbol<decltype(&SimLastImage)>("SimLastImage");
    decltype(&SimLogClear) clearLog = library.Symbol<decltype(&SimLogClear)>("SimLogClear");
};

void ExposeFullFrameAndDownload(std::vector<std::uint8_t>& image) {
    ASSERT_EQ(Expose(0, 0, 0, kSensorWidth, kSensorHeight, 0, 0), 1);
    int polls = 0;
    while (Ready() != 1) ASSERT_LT(++polls, kMaxReadyPolls) << "the camera never became ready";
    ASSERT_EQ(Download(image.data()), 1);
    int32_t cooling = -1;
    ASSERT_NE(GetCoolingInfo(&cooling), TARNSCSI_NO_READING);
}

}  // namespace

TEST(Soak, TenThousandConnectionsLeaveNothingBehind) {
    // The manager starts afresh with every connection and applies
    // TARNSCSI_SIM as it loads; a configuration from the caller's
    // environment (pending completion pins the library) must not change
    // what is measured.
    unsetenv("TARNSCSI_SIM");
    for (int i = 0; i < kWarmUpCycles; ++i) {
        ASSERT_TRUE(ConnectOnce());
        Disconnect();
    }
    const Footprint before = Measure();
    ASSERT_EQ(before.managerMappings, 0) << "nothing holds the manager between connections";

    for (int cycle = 0; cycle < kConnectCycles; ++cycle) {
        ASSERT_TRUE(ConnectOnce()) << "cycle " << cycle;
        if (cycle == kConnectCycles / 2) {
            // The measurement sees the manager and the event while connected.
            const Footprint connected = Measure();
            EXPECT_GT(connected.managerMappings, 0);
            EXPECT_EQ(connected.descriptors, before.descriptors + 1);
        }
        Disconnect();
    }
    ExpectSame(before, Measure());
}

TEST(Soak, AThousandFullExposuresLeaveNothingBehind) {
    std::vector<std::uint8_t> image(kFullFrameBytes);
    {
        const ManagerControl manager;
        ASSERT_TRUE(manager.Loaded());
        manager.Reset();  // immediate completion, exposures over at once, the test pattern
        ASSERT_TRUE(ConnectOnce());
        for (int i = 0; i < kWarmUpExposures; ++i) {
            ASSERT_NO_FATAL_FAILURE(ExposeFullFrameAndDownload(image));
            manager.ClearLog();
        }
        const Footprint before = Measure();

        for (int exposure = 0; exposure < kExposures; ++exposure) {
            ASSERT_NO_FATAL_FAILURE(ExposeFullFrameAndDownload(image)) << "exposure " << exposure;
            manager.ClearLog();
            if (exposure % kImageCheckInterval == 0) {
                ASSERT_EQ(image, manager.LastImage()) << "exposure " << exposure;
            }
        }
        ExpectSame(before, Measure());
        Disconnect();
    }
    EXPECT_EQ(Measure().managerMappings, 0) << "the module kept a reference to the manager";
}
