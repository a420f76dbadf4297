#include "sim/cooler_store.h"

#include <cstdio>
#include <sstream>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace tarnscsi::sim {
namespace {

constexpr std::size_t kFileLimit = 256;

#if !defined(_WIN32)
constexpr mode_t kFileMode = 0600;

// Closes the descriptor (and so drops its lock) when it goes.
class LockedFile {
public:
    LockedFile(const std::filesystem::path& file, int flags, int lockKind)
        : descriptor(::open(file.c_str(), flags | O_CLOEXEC | O_NOFOLLOW, kFileMode)) {
        if (descriptor >= 0 && ::flock(descriptor, lockKind) != 0) {
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
    int descriptor;
};
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
    if (!(in >> on >> setpoint >> temperature >> nanoseconds)) return std::nullopt;
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
