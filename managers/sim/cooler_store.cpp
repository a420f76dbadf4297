#include "sim/cooler_store.h"

#include <atomic>
#include <cstdio>
#include <limits>
#include <sstream>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "sim/shared_file.h"
#endif

namespace tarnscsi::sim {
namespace {

constexpr std::size_t kFileLimit = 256;

#if !defined(_WIN32)
// The coldest and the warmest the simulated sensor can be: the coldest
// surroundings with the strongest cooler, the warmest surroundings. A
// stored temperature outside is no state this camera could have left.
constexpr double kColdestTenths = kLowestAmbientTenths - kLargestCoolerDifferenceTenths;
constexpr double kWarmestTenths = kHighestAmbientTenths;

// Closes the descriptor (and so drops its lock) when it goes. A state file
// that is not a plain file (a named pipe would stop the open, and with it
// the connecting program, for good) is not used, and said so once.
class LockedFile {
public:
    LockedFile(const std::filesystem::path& file, int flags, int lockKind) {
        const OpenedFile opened = OpenSharedFile(file, flags);
        descriptor = opened.descriptor;
        if (descriptor < 0) {
            if (opened.notAFile) WarnOnce(file, opened.problem);
            return;
        }
        if (::flock(descriptor, lockKind) != 0) {
            ::close(descriptor);
            descriptor = -1;
        }
    }
    ~LockedFile() {
        if (descriptor >= 0) ::close(descriptor);
    }
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;
    int Descriptor() const { return descriptor; }

private:
    static void WarnOnce(const std::filesystem::path& file, const std::string& problem) {
        static std::atomic<bool> warned{false};
        if (warned.exchange(true)) return;
        std::fprintf(stderr,
                     "tarnscsi simulator: %s %s: the cooler's state is not kept between programs until it is "
                     "removed\n",
                     file.c_str(), problem.c_str());
    }

    int descriptor = -1;
};

// A state this camera could have left: the cooler on or off, a setpoint
// its 16-bit field holds, a temperature the sensor can reach.
bool Plausible(int on, int setpoint, double temperature) {
    return (on == 0 || on == 1) && setpoint >= std::numeric_limits<std::int16_t>::min() &&
           setpoint <= std::numeric_limits<std::int16_t>::max() && temperature >= kColdestTenths &&
           temperature <= kWarmestTenths;
}
#endif

}  // namespace

std::string CoolerFileName(int adapter, int target, int lun) {
    return "camera-" + std::to_string(adapter) + "-" + std::to_string(target) + "-" + std::to_string(lun) + ".state";
}

std::optional<StoredCooler> LoadCooler(const std::filesystem::path& file) {
#if defined(_WIN32)
    (void)file;
    return std::nullopt;
#else
    const LockedFile locked(file, O_RDONLY, LOCK_SH);
    if (locked.Descriptor() < 0) return std::nullopt;
    char text[kFileLimit] = {};
    const ssize_t length = ::pread(locked.Descriptor(), text, sizeof text - 1, 0);
    if (length <= 0) return std::nullopt;
    std::istringstream in(std::string(text, static_cast<std::size_t>(length)));
    int on = 0;
    int setpoint = 0;
    double temperature = 0.0;
    long long nanoseconds = 0;
    if (!(in >> on >> setpoint >> temperature >> nanoseconds) || !(in >> std::ws).eof()) return std::nullopt;
    if (!Plausible(on, setpoint, temperature)) return std::nullopt;
    StoredCooler stored;
    stored.state = {on != 0, static_cast<std::int16_t>(setpoint), temperature};
    stored.taken = std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::nanoseconds(nanoseconds)));
    return stored;
#endif
}

void SaveCooler(const std::filesystem::path& file, const StoredCooler& stored) {
#if defined(_WIN32)
    (void)file;
    (void)stored;
#else
    const LockedFile locked(file, O_RDWR | O_CREAT, LOCK_EX);
    if (locked.Descriptor() < 0) return;
    const long long nanoseconds =
        std::chrono::duration_cast<std::chrono::nanoseconds>(stored.taken.time_since_epoch()).count();
    char text[kFileLimit];
    const int length = std::snprintf(text, sizeof text, "%d %d %.6f %lld\n", stored.state.on ? 1 : 0,
                                     static_cast<int>(stored.state.setpoint), stored.state.temperature, nanoseconds);
    if (length <= 0 || ::ftruncate(locked.Descriptor(), 0) != 0) return;
    [[maybe_unused]] const ssize_t written = ::pwrite(locked.Descriptor(), text, static_cast<std::size_t>(length), 0);
#endif
}

}  // namespace tarnscsi::sim
