#include <tarnscsi/standard_descriptors.h>

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace tarnscsi {

#if defined(_WIN32)

ClosedStandardDescriptors OpenClosedStandardDescriptors() { return {}; }

#else

namespace {

constexpr char kNullDevice[] = "/dev/null";

// Puts /dev/null on `descriptor` when it is closed; true when it was closed.
// Taken in order from 0, open() returns the lowest free number, which is
// this one; dup2 covers any other. Without /dev/null (a bare chroot) the
// descriptor stays closed: there is nothing harmless to put there.
bool FillIfClosed(int descriptor, int flags) {
    if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) return false;
    const int opened = open(kNullDevice, flags);
    if (opened >= 0 && opened != descriptor) {
        dup2(opened, descriptor);
        close(opened);
    }
    return true;
}

}  // namespace

ClosedStandardDescriptors OpenClosedStandardDescriptors() {
    ClosedStandardDescriptors closed;
    closed.input = FillIfClosed(STDIN_FILENO, O_RDONLY);
    closed.output = FillIfClosed(STDOUT_FILENO, O_WRONLY);
    closed.error = FillIfClosed(STDERR_FILENO, O_WRONLY);
    return closed;
}

#endif

}  // namespace tarnscsi
