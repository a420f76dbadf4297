#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "sg/lock_holder.h"

#include "sg/sg_system.h"

namespace tarnscsi::sg {
namespace {

class KernelSystem final : public SgSystem {
public:
    std::filesystem::path SysfsRoot() const override { return "/sys"; }

    int Open(const std::string& path, int flags) override {
        int descriptor;
        do {
            descriptor = ::open(path.c_str(), flags);
        } while (descriptor < 0 && errno == EINTR);
        return descriptor >= 0 ? descriptor : -errno;
    }

    // Not repeated on EINTR: an interrupted SG_IO may already have reached
    // the device, and sending a command twice is not harmless.
    int Ioctl(int descriptor, unsigned long request, void* argument) override {
        const int result = ::ioctl(descriptor, request, argument);
        return result >= 0 ? result : -errno;
    }

    void Close(int descriptor) override { ::close(descriptor); }

    int Flock(int descriptor, int operation) override {
        int result;
        do {
            result = ::flock(descriptor, operation);
        } while (result < 0 && errno == EINTR);
        return result >= 0 ? 0 : -errno;
    }

    std::string LockHolder(const std::string& path) override { return FlockHolder(path); }
};

}  // namespace

SgSystem& RealSystem() {
    // Never destroyed: the completion worker may still carry a command while
    // the process exits.
    static KernelSystem* const system = new KernelSystem;
    return *system;
}

}  // namespace tarnscsi::sg