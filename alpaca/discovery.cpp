#include "discovery.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <nlohmann/json.hpp>

namespace tarnscsi::alpaca {
namespace {

// How often the responder looks whether it should stop.
constexpr int kPollMilliseconds = 200;
constexpr std::size_t kMaxDatagram = 512;
// The loopback network's broadcast address (127.255.255.255).
constexpr in_addr_t kLoopbackBroadcast = 0x7FFFFFFF;
constexpr in_addr_t kLoopbackNetwork = 0x7F000000;
constexpr in_addr_t kLoopbackMask = 0xFF000000;

const in_addr& V4(const SocketAddress& address) {
    return reinterpret_cast<const sockaddr_in*>(&address.address)->sin_addr;
}
const in6_addr& V6(const SocketAddress& address) {
    return reinterpret_cast<const sockaddr_in6*>(&address.address)->sin6_addr;
}

bool IsWildcard(const SocketAddress& address) {
    if (address.Family() == AF_INET6) return IN6_IS_ADDR_UNSPECIFIED(&V6(address));
    return V4(address).s_addr == htonl(INADDR_ANY);
}

bool IsLoopback4(in_addr address) { return (ntohl(address.s_addr) & kLoopbackMask) == kLoopbackNetwork; }

// Where a local address lives: its interface and (IPv4) the interface's
// broadcast address. Looked up at each datagram: interfaces come and go.
struct Interface {
    unsigned index = 0;
    in_addr broadcast{};
    bool hasBroadcast = false;
};

Interface InterfaceOf(const SocketAddress& address) {
    Interface found;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return found;
    for (const ifaddrs* at = list; at; at = at->ifa_next) {
        if (!at->ifa_addr || at->ifa_addr->sa_family != address.Family()) continue;
        const bool same =
            address.Family() == AF_INET6
                ? IN6_ARE_ADDR_EQUAL(&reinterpret_cast<const sockaddr_in6*>(at->ifa_addr)->sin6_addr, &V6(address))
                : reinterpret_cast<const sockaddr_in*>(at->ifa_addr)->sin_addr.s_addr == V4(address).s_addr;
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

// Whether an IPv4 datagram sent to `to` that arrived on interface `index`
// is for `served`.
bool ServesV4(const SocketAddress& served, in_addr to, unsigned index) {
    if (IsWildcard(served)) return true;
    const in_addr mine = V4(served);
    if (to.s_addr == mine.s_addr) return true;
    if (IsLoopback4(mine)) return to.s_addr == htonl(kLoopbackBroadcast);
    const Interface where = InterfaceOf(served);
    if (where.index == 0 || where.index != index) return false;
    return to.s_addr == htonl(INADDR_BROADCAST) || (where.hasBroadcast && to.s_addr == where.broadcast.s_addr);
}

bool ServesV6(const SocketAddress& served, const in6_addr& to, unsigned index, const in6_addr& group) {
    if (IsWildcard(served)) return true;
    if (IN6_ARE_ADDR_EQUAL(&to, &V6(served))) return true;
    if (!IN6_ARE_ADDR_EQUAL(&to, &group)) return false;
    const unsigned where = IN6_IS_ADDR_LOOPBACK(&V6(served)) ? if_nametoindex("lo") : InterfaceOf(served).index;
    return where != 0 && where == index;
}

// A UDP socket on the wildcard address of `family` and `port`, told each
// datagram's destination; -1 with `problem` set.
int Bind(int family, int port, std::string& problem) {
    const int socket = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket < 0) {
        problem = std::string("cannot open a UDP socket: ") + std::strerror(errno);
        return -1;
    }
    // Several Alpaca servers on one machine share the discovery port.
    const int on = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_storage any{};
    socklen_t length = 0;
    if (family == AF_INET6) {
        // IPv4 datagrams come to the IPv4 socket.
        setsockopt(socket, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        setsockopt(socket, IPPROTO_IPV6, IPV6_RECVPKTINFO, &on, sizeof on);
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&any);
        v6->sin6_family = AF_INET6;
        v6->sin6_addr = in6addr_any;
        v6->sin6_port = htons(static_cast<std::uint16_t>(port));
        length = sizeof *v6;
    } else {
        setsockopt(socket, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
        auto* v4 = reinterpret_cast<sockaddr_in*>(&any);
        v4->sin_family = AF_INET;
        v4->sin_addr.s_addr = htonl(INADDR_ANY);
        v4->sin_port = htons(static_cast<std::uint16_t>(port));
        length = sizeof *v4;
    }
    if (bind(socket, reinterpret_cast<const sockaddr*>(&any), length) != 0) {
        problem = std::string(family == AF_INET6 ? "[::]" : "0.0.0.0") + ":" + std::to_string(port) + ": " +
                  std::strerror(errno);
        close(socket);
        return -1;
    }
    return socket;
}

int BoundPort(int socket) {
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&bound), &length) != 0) return 0;
    return ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port
                                             : reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
}

in6_addr Group() {
    in6_addr group{};
    inet_pton(AF_INET6, kDiscoveryGroup, &group);
    return group;
}

// Joins the IPv6 discovery group where `served` may be reached: on the
// loopback interface for ::1, on its interface for another address, on
// every interface that takes multicast for [::]. A join that fails leaves
// unicast discovery working.
void JoinGroup(int socket, const SocketAddress& served) {
    std::vector<unsigned> indexes;
    if (IN6_IS_ADDR_LOOPBACK(&V6(served))) {
        indexes.push_back(if_nametoindex("lo"));
    } else if (!IsWildcard(served)) {
        indexes.push_back(InterfaceOf(served).index);
    } else if (ifaddrs* list = nullptr; getifaddrs(&list) == 0) {
        for (const ifaddrs* at = list; at; at = at->ifa_next) {
            if (!(at->ifa_flags & (IFF_MULTICAST | IFF_LOOPBACK))) continue;
            const unsigned index = if_nametoindex(at->ifa_name);
            if (std::find(indexes.begin(), indexes.end(), index) == indexes.end()) indexes.push_back(index);
        }
        freeifaddrs(list);
    }
    for (const unsigned index : indexes) {
        if (index == 0) continue;
        ipv6_mreq join{};
        join.ipv6mr_multiaddr = Group();
        join.ipv6mr_interface = index;
        setsockopt(socket, IPPROTO_IPV6, IPV6_JOIN_GROUP, &join, sizeof join);
    }
}

}  // namespace

DiscoveryResponder::~DiscoveryResponder() { Stop(); }

std::string DiscoveryResponder::Start(const std::string& listen, int port, int answerPort) {
    alpacaPort = answerPort;
    std::string problem;
    served = ResolveListen(listen, port, problem);
    if (served.empty()) return "discovery: " + problem;
    // [::] takes IPv4 connections too, as the HTTP server does.
    const bool v4 = std::any_of(served.begin(), served.end(),
                                [](const SocketAddress& a) { return a.Family() == AF_INET || IsWildcard(a); });
    const bool v6 =
        std::any_of(served.begin(), served.end(), [](const SocketAddress& a) { return a.Family() == AF_INET6; });
    std::string problems;
    for (const int family : {AF_INET, AF_INET6}) {
        if ((family == AF_INET && !v4) || (family == AF_INET6 && !v6)) continue;
        // Port 0 picks a free port for the first socket; the other follows it.
        const int socket = Bind(family, boundPort != 0 ? boundPort : port, problem);
        if (socket < 0) {
            problems += (problems.empty() ? "" : "; ") + problem;
            continue;
        }
        if (family == AF_INET6) {
            for (const SocketAddress& address : served) {
                if (address.Family() == AF_INET6) JoinGroup(socket, address);
            }
        }
        sockets.push_back(socket);
        if (boundPort == 0) boundPort = BoundPort(socket);
    }
    if (sockets.empty()) {
        return "discovery: cannot bind UDP port " + std::to_string(port) + " (" + problems +
               "); another program may hold the port; --no-discovery leaves discovery out";
    }
    stopping = false;
    worker = std::thread([this] { Serve(); });
    return {};
}

void DiscoveryResponder::Stop() {
    stopping = true;
    if (worker.joinable()) worker.join();
    for (const int socket : sockets) close(socket);
    sockets.clear();
}

void DiscoveryResponder::Serve() {
    std::vector<pollfd> waiting;
    for (const int socket : sockets) waiting.push_back({socket, POLLIN, 0});
    while (!stopping) {
        if (poll(waiting.data(), waiting.size(), kPollMilliseconds) <= 0) continue;
        for (const pollfd& one : waiting) {
            if (one.revents & POLLIN) AnswerOne(one.fd);
        }
    }
}

void DiscoveryResponder::AnswerOne(int socket) {
    char datagram[kMaxDatagram];
    sockaddr_storage from{};
    iovec part{datagram, sizeof datagram};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in6_pktinfo)) + CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got = recvmsg(socket, &message, 0);
    if (got <= 0) return;
    // The message may carry more after its name (later versions of the protocol).
    const std::size_t name = std::strlen(kDiscoveryMessage);
    if (static_cast<std::size_t>(got) < name || std::memcmp(datagram, kDiscoveryMessage, name) != 0) return;

    // Where it was sent, and the source the answer goes out from.
    const in6_addr group = Group();
    std::optional<in_pktinfo> v4;
    std::optional<in6_pktinfo> v6;
    for (cmsghdr* at = CMSG_FIRSTHDR(&message); at; at = CMSG_NXTHDR(&message, at)) {
        if (at->cmsg_level == IPPROTO_IP && at->cmsg_type == IP_PKTINFO) {
            v4.emplace();
            std::memcpy(&*v4, CMSG_DATA(at), sizeof *v4);
        } else if (at->cmsg_level == IPPROTO_IPV6 && at->cmsg_type == IPV6_PKTINFO) {
            v6.emplace();
            std::memcpy(&*v6, CMSG_DATA(at), sizeof *v6);
        }
    }
    const SocketAddress* answering = nullptr;
    for (const SocketAddress& address : served) {
        const bool ours =
            v4 ? (address.Family() == AF_INET || IsWildcard(address)) &&
                     ServesV4(address, v4->ipi_addr, static_cast<unsigned>(v4->ipi_ifindex))
               : v6 && address.Family() == AF_INET6 && ServesV6(address, v6->ipi6_addr, v6->ipi6_ifindex, group);
        if (ours) {
            answering = &address;
            break;
        }
    }
    if (!answering) return;

    // The answer leaves from the served address (the kernel's choice for a
    // wildcard), so that the client's next request goes where we listen.
    alignas(cmsghdr) char source[CMSG_SPACE(sizeof(in6_pktinfo))] = {};
    const std::string answer = nlohmann::json{{"AlpacaPort", alpacaPort}}.dump();
    iovec out{const_cast<char*>(answer.data()), answer.size()};
    msghdr reply{};
    reply.msg_name = &from;
    reply.msg_namelen = message.msg_namelen;
    reply.msg_iov = &out;
    reply.msg_iovlen = 1;
    reply.msg_control = source;
    cmsghdr* header = reinterpret_cast<cmsghdr*>(source);
    if (v4) {
        in_pktinfo info{};
        info.ipi_spec_dst =
            IsWildcard(*answering) || answering->Family() != AF_INET ? v4->ipi_spec_dst : V4(*answering);
        header->cmsg_level = IPPROTO_IP;
        header->cmsg_type = IP_PKTINFO;
        header->cmsg_len = CMSG_LEN(sizeof info);
        std::memcpy(CMSG_DATA(header), &info, sizeof info);
        reply.msg_controllen = CMSG_SPACE(sizeof info);
    } else {
        in6_pktinfo info{};
        info.ipi6_ifindex = v6->ipi6_ifindex;
        if (!IsWildcard(*answering)) {
            info.ipi6_addr = V6(*answering);
        } else if (!IN6_IS_ADDR_MULTICAST(&v6->ipi6_addr)) {
            info.ipi6_addr = v6->ipi6_addr;
        }
        header->cmsg_level = IPPROTO_IPV6;
        header->cmsg_type = IPV6_PKTINFO;
        header->cmsg_len = CMSG_LEN(sizeof info);
        std::memcpy(CMSG_DATA(header), &info, sizeof info);
        reply.msg_controllen = CMSG_SPACE(sizeof info);
    }
    sendmsg(socket, &reply, MSG_NOSIGNAL);
}

}  // namespace tarnscsi::alpaca
