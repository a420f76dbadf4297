#include "discovery.h"

#include <algorithm>
#include <cstring>
#include <nlohmann/json.hpp>

namespace tarnscsi::alpaca {
namespace {

// How often the responder looks whether it should stop.
constexpr int kPollMilliseconds = 200;
constexpr std::size_t kMaxDatagram = 512;
// The loopback network's broadcast address (127.255.255.255).
constexpr std::uint32_t kLoopbackBroadcast = 0x7FFFFFFF;
constexpr std::uint32_t kLoopbackNetwork = 0x7F000000;
constexpr std::uint32_t kLoopbackMask = 0xFF000000;

const in_addr& V4(const SocketAddress& address) {
    return reinterpret_cast<const sockaddr_in*>(&address.address)->sin_addr;
}
const in6_addr& V6(const SocketAddress& address) {
    return reinterpret_cast<const sockaddr_in6*>(&address.address)->sin6_addr;
}

bool Same(const in6_addr& a, const in6_addr& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool IsWildcard(const SocketAddress& address) {
    if (address.Family() == AF_INET6) return IN6_IS_ADDR_UNSPECIFIED(&V6(address));
    return V4(address).s_addr == htonl(INADDR_ANY);
}

bool IsLoopback4(in_addr address) { return (ntohl(address.s_addr) & kLoopbackMask) == kLoopbackNetwork; }

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
    if (Same(to, V6(served))) return true;
    if (!Same(to, group)) return false;
    const unsigned where = IN6_IS_ADDR_LOOPBACK(&V6(served)) ? LoopbackInterface6() : InterfaceOf(served).index;
    return where != 0 && where == index;
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
void JoinGroup(DiscoverySocket& socket, const SocketAddress& served) {
    std::vector<unsigned> indexes;
    if (IN6_IS_ADDR_LOOPBACK(&V6(served))) {
        indexes.push_back(LoopbackInterface6());
    } else if (!IsWildcard(served)) {
        indexes.push_back(InterfaceOf(served).index);
    } else {
        indexes = MulticastInterfaces6();
    }
    for (const unsigned index : indexes) {
        if (index != 0) socket.JoinGroup(Group(), index);
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
        auto socket = std::make_unique<DiscoverySocket>(family, boundPort != 0 ? boundPort : port, problem);
        if (!socket->IsOpen()) {
            problems += (problems.empty() ? "" : "; ") + problem;
            continue;
        }
        if (family == AF_INET6) {
            for (const SocketAddress& address : served) {
                if (address.Family() == AF_INET6) JoinGroup(*socket, address);
            }
        }
        if (boundPort == 0) boundPort = socket->Port();
        sockets.push_back(std::move(socket));
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
    sockets.clear();
}

void DiscoveryResponder::Serve() {
    std::vector<DiscoverySocket*> waiting;
    for (const auto& socket : sockets) waiting.push_back(socket.get());
    while (!stopping) {
        const std::vector<bool> ready = DiscoverySocket::Wait(waiting, kPollMilliseconds);
        for (std::size_t i = 0; i < waiting.size(); ++i) {
            if (ready[i]) AnswerOne(*waiting[i]);
        }
    }
}

void DiscoveryResponder::AnswerOne(DiscoverySocket& socket) {
    char datagram[kMaxDatagram];
    Arrival arrival;
    const std::size_t got = socket.Receive(datagram, sizeof datagram, arrival);
    // The message may carry more after its name (later versions of the protocol).
    const std::size_t name = std::strlen(kDiscoveryMessage);
    if (got < name || std::memcmp(datagram, kDiscoveryMessage, name) != 0 || !arrival.told) return;

    const bool v4 = socket.Family() == AF_INET;
    const in6_addr group = Group();
    const SocketAddress* answering = nullptr;
    for (const SocketAddress& address : served) {
        const bool ours =
            v4 ? (address.Family() == AF_INET || IsWildcard(address)) &&
                     ServesV4(address, arrival.to4, arrival.interfaceIndex)
               : address.Family() == AF_INET6 && ServesV6(address, arrival.to6, arrival.interfaceIndex, group);
        if (ours) {
            answering = &address;
            break;
        }
    }
    if (!answering) return;

    // The answer leaves from the served address (the system's choice for a
    // wildcard), so that the client's next request goes where we listen.
    in_addr source4{};
    in6_addr source6{};
    if (v4) {
        source4 = IsWildcard(*answering) || answering->Family() != AF_INET ? arrival.local4 : V4(*answering);
    } else if (!IsWildcard(*answering)) {
        source6 = V6(*answering);
    } else if (!IN6_IS_ADDR_MULTICAST(&arrival.to6)) {
        source6 = arrival.to6;
    }
    socket.Answer(nlohmann::json{{"AlpacaPort", alpacaPort}}.dump(), arrival, source4, source6);
}

}  // namespace tarnscsi::alpaca
