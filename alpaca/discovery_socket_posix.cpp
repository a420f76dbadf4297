#include "discovery_socket.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace tarnscsi::alpaca {

DiscoverySocket::DiscoverySocket(int addressFamily, int port, std::string& problem) : family(addressFamily) {
    socket = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket < 0) {
        problem = "cannot open a UDP socket: " + SocketErrorText(LastSocketError());
        return;
    }
    // Several Alpaca servers on one machine share the discovery port.
    SetSocketOption(socket, SOL_SOCKET, SO_REUSEADDR, 1);
    if (!BindWildcard(port, IPV6_RECVPKTINFO, problem)) {
        CloseSocket(socket);
        socket = kNoSocket;
    }
}

std::size_t DiscoverySocket::Receive(char* buffer, std::size_t size, Arrival& arrival) {
    iovec part{buffer, size};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in6_pktinfo)) + CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr message{};
    message.msg_name = &arrival.from.address;
    message.msg_namelen = sizeof arrival.from.address;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got = recvmsg(socket, &message, 0);
    if (got <= 0) return 0;
    arrival.from.length = message.msg_namelen;
    for (cmsghdr* at = CMSG_FIRSTHDR(&message); at; at = CMSG_NXTHDR(&message, at)) {
        if (at->cmsg_level == IPPROTO_IP && at->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(at), sizeof info);
            arrival.to4 = info.ipi_addr;
            arrival.local4 = info.ipi_spec_dst;
            arrival.interfaceIndex = static_cast<unsigned>(info.ipi_ifindex);
            arrival.told = true;
        } else if (at->cmsg_level == IPPROTO_IPV6 && at->cmsg_type == IPV6_PKTINFO) {
            in6_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(at), sizeof info);
            arrival.to6 = info.ipi6_addr;
            arrival.interfaceIndex = info.ipi6_ifindex;
            arrival.told = true;
        }
    }
    return static_cast<std::size_t>(got);
}

void DiscoverySocket::Answer(const std::string& answer, const Arrival& arrival, in_addr source4,
                             const in6_addr& source6) {
    alignas(cmsghdr) char source[CMSG_SPACE(sizeof(in6_pktinfo))] = {};
    iovec out{const_cast<char*>(answer.data()), answer.size()};
    msghdr reply{};
    reply.msg_name = const_cast<sockaddr_storage*>(&arrival.from.address);
    reply.msg_namelen = arrival.from.length;
    reply.msg_iov = &out;
    reply.msg_iovlen = 1;
    reply.msg_control = source;
    cmsghdr* header = reinterpret_cast<cmsghdr*>(source);
    if (family == AF_INET) {
        in_pktinfo info{};
        info.ipi_spec_dst = source4;
        header->cmsg_level = IPPROTO_IP;
        header->cmsg_type = IP_PKTINFO;
        header->cmsg_len = CMSG_LEN(sizeof info);
        std::memcpy(CMSG_DATA(header), &info, sizeof info);
        reply.msg_controllen = CMSG_SPACE(sizeof info);
    } else {
        in6_pktinfo info{};
        info.ipi6_ifindex = arrival.interfaceIndex;
        info.ipi6_addr = source6;
        header->cmsg_level = IPPROTO_IPV6;
        header->cmsg_type = IPV6_PKTINFO;
        header->cmsg_len = CMSG_LEN(sizeof info);
        std::memcpy(CMSG_DATA(header), &info, sizeof info);
        reply.msg_controllen = CMSG_SPACE(sizeof info);
    }
    sendmsg(socket, &reply, MSG_NOSIGNAL);
}

std::vector<bool> DiscoverySocket::Wait(const std::vector<DiscoverySocket*>& sockets, int milliseconds) {
    std::vector<pollfd> waiting;
    for (const DiscoverySocket* one : sockets) waiting.push_back({one->socket, POLLIN, 0});
    std::vector<bool> ready(sockets.size(), false);
    if (poll(waiting.data(), waiting.size(), milliseconds) <= 0) return ready;
    for (std::size_t i = 0; i < waiting.size(); ++i) ready[i] = (waiting[i].revents & POLLIN) != 0;
    return ready;
}

Interface InterfaceOf(const SocketAddress& address) {
    Interface found;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return found;
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address.address);
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address.address);
    for (const ifaddrs* at = list; at; at = at->ifa_next) {
        if (!at->ifa_addr || at->ifa_addr->sa_family != address.Family()) continue;
        const bool same =
            address.Family() == AF_INET6
                ? IN6_ARE_ADDR_EQUAL(&reinterpret_cast<const sockaddr_in6*>(at->ifa_addr)->sin6_addr, &v6->sin6_addr)
                : reinterpret_cast<const sockaddr_in*>(at->ifa_addr)->sin_addr.s_addr == v4->sin_addr.s_addr;
        if (!same) continue;
        found.index = if_nametoindex(at->ifa_name);
        if ((at->ifa_flags & IFF_BROADCAST) && at->ifa_broadaddr && at->ifa_broadaddr->sa_family == AF_INET) {
            found.broadcast = reinterpret_cast<const sockaddr_in*>(at->ifa_broadaddr)->sin_addr;
            found.hasBroadcast = true;
        }
        break;
    }
    freeifaddrs(list);
    return found;
}

unsigned LoopbackInterface6() { return if_nametoindex("lo"); }

std::vector<unsigned> MulticastInterfaces6() {
    std::vector<unsigned> indexes;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return indexes;
    for (const ifaddrs* at = list; at; at = at->ifa_next) {
        if (!(at->ifa_flags & (IFF_MULTICAST | IFF_LOOPBACK))) continue;
        const unsigned index = if_nametoindex(at->ifa_name);
        if (index != 0 && std::find(indexes.begin(), indexes.end(), index) == indexes.end()) indexes.push_back(index);
    }
    freeifaddrs(list);
    return indexes;
}

}  // namespace tarnscsi::alpaca
