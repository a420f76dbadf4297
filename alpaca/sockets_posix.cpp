#include "sockets.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

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

}  // namespace tarnscsi::alpaca
