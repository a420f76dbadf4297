// What the discovery socket does alike on every system: binding the
// wildcard address, the bound port, joining an IPv6 group, closing.
#include "discovery_socket.h"

#include <cstdint>

namespace tarnscsi::alpaca {

bool DiscoverySocket::BindWildcard(int port, int v6PacketInfo, std::string& problem) {
    sockaddr_storage any{};
    socklen_t length = 0;
    if (family == AF_INET6) {
        // IPv4 datagrams come to the IPv4 socket.
        SetSocketOption(socket, IPPROTO_IPV6, IPV6_V6ONLY, 1);
        SetSocketOption(socket, IPPROTO_IPV6, v6PacketInfo, 1);
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&any);
        v6->sin6_family = AF_INET6;
        v6->sin6_addr = in6addr_any;
        v6->sin6_port = htons(static_cast<std::uint16_t>(port));
        length = sizeof *v6;
    } else {
        SetSocketOption(socket, IPPROTO_IP, IP_PKTINFO, 1);
        auto* v4 = reinterpret_cast<sockaddr_in*>(&any);
        v4->sin_family = AF_INET;
        v4->sin_addr.s_addr = htonl(INADDR_ANY);
        v4->sin_port = htons(static_cast<std::uint16_t>(port));
        length = sizeof *v4;
    }
    if (bind(socket, reinterpret_cast<const sockaddr*>(&any), length) == 0) return true;
    problem = std::string(family == AF_INET6 ? "[::]" : "0.0.0.0") + ":" + std::to_string(port) + ": " +
              SocketErrorText(LastSocketError());
    return false;
}

DiscoverySocket::~DiscoverySocket() {
    if (socket != kNoSocket) CloseSocket(socket);
}

int DiscoverySocket::Port() const {
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&bound), &length) != 0) return 0;
    return ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port
                                             : reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
}

void DiscoverySocket::JoinGroup(const in6_addr& group, unsigned index) {
    ipv6_mreq join{};
    join.ipv6mr_multiaddr = group;
    join.ipv6mr_interface = index;
    // Winsock takes the option as char*; POSIX as void*.
    setsockopt(socket, IPPROTO_IPV6, IPV6_JOIN_GROUP, reinterpret_cast<const char*>(&join), sizeof join);
}

}  // namespace tarnscsi::alpaca
