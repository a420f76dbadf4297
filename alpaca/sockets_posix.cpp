#include "sockets.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

namespace tarnscsi::alpaca {

std::string UseSockets() { return {}; }

int LastSocketError() { return errno; }

std::string SocketErrorText(int error) { return std::strerror(error); }

void CloseSocket(NativeSocket socket) { close(socket); }

std::string HostName() {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) return {};
    return host;
}

bool SetSocketOption(NativeSocket socket, int level, int name, int value) {
    return setsockopt(socket, level, name, &value, sizeof value) == 0;
}

bool GuardListeningPort(NativeSocket socket) { return SetSocketOption(socket, SOL_SOCKET, SO_REUSEADDR, 1); }

std::string AccessDeniedText(int) {
    return "not permitted (ports below 1024 need privileges: choose another with --port)";
}

std::size_t RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    if (limit.rlim_cur != limit.rlim_max) {
        // An unlimited hard limit is more than the kernel gives one process
        // (fs.nr_open): then the soft limit stays.
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > std::numeric_limits<std::size_t>::max()) {
        return std::numeric_limits<std::size_t>::max();
    }
    return static_cast<std::size_t>(limit.rlim_cur);
}

}  // namespace tarnscsi::alpaca
