// The operating-system calls the SCSI generic manager makes, behind one
// interface: where sysfs is, and opening, controlling and closing device
// nodes. The installed manager uses the real calls; tests put a fake bus
// behind the same interface, since they cannot load kernel modules or
// attach SCSI devices.
#pragma once

#include <filesystem>
#include <string>

namespace tarnscsi::sg {

class SgSystem {
public:
    virtual ~SgSystem() = default;

    // Root of the sysfs tree ("/sys" on a real system).
    virtual std::filesystem::path SysfsRoot() const = 0;

    // open(2): a descriptor, or -errno.
    virtual int Open(const std::string& path, int flags) = 0;

    // ioctl(2) with a pointer argument: its result (not negative), or -errno.
    virtual int Ioctl(int descriptor, unsigned long request, void* argument) = 0;

    virtual void Close(int descriptor) = 0;

    // flock(2): 0, or -errno (-EWOULDBLOCK: another open file holds it).
    virtual int Flock(int descriptor, int operation) = 0;

    // Who holds an flock on the node at `path`: "NAME, PID N" from the
    // kernel's lock table, or "" when it cannot be told.
    virtual std::string LockHolder(const std::string& path) = 0;
};

// The kernel's own calls on the real /sys.
SgSystem& RealSystem();

// The system the manager library of this process runs on. The installed
// manager defines it as RealSystem(); a test build of the library links a
// different definition.
SgSystem& LibrarySystem();

}  // namespace tarnscsi::sg