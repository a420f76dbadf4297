#include "discovery.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>

#include "listen_address.h"

namespace tarnscsi::alpaca {
namespace {

// How often the responder looks whether it should stop.
constexpr int kPollMilliseconds = 200;
constexpr std::size_t kMaxDatagram = 512;

void SetPort(SocketAddress& address, int port) {
    const auto network = htons(static_cast<std::uint16_t>(port));
    if (address.Family() == AF_INET6) {
        reinterpret_cast<sockaddr_in6*>(&address.address)->sin6_port = network;
    } else {
        reinterpret_cast<sockaddr_in*>(&address.address)->sin_port = network;
    }
}

int BoundPort(int socket) {
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&bound), &length) != 0) return 0;
    return ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port
                                             : reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
}

// A UDP socket bound to `address`, or -1 with `problem` set.
int Bind(const SocketAddress& address, std::string& problem) {
    const int socket = ::socket(address.Family(), SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket < 0) {
        problem = std::string("cannot open a UDP socket: ") + std::strerror(errno);
        return -1;
    }
    // Several Alpaca servers on one machine share the discovery port.
    const int on = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (address.Family() == AF_INET6) {
        // The IPv6 wildcard takes IPv4 datagrams too, as the HTTP server does.
        const int off = 0;
        setsockopt(socket, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    }
    if (bind(socket, reinterpret_cast<const sockaddr*>(&address.address), address.length) != 0) {
        problem = address.Text() + ": " + std::strerror(errno);
        close(socket);
        return -1;
    }
    return socket;
}

}  // namespace

DiscoveryResponder::~DiscoveryResponder() { Stop(); }

std::string DiscoveryResponder::Start(const std::string& listen, int port, int answerPort) {
    alpacaPort = answerPort;
    std::string problem;
    auto addresses = ResolveListen(listen, port, problem);
    if (addresses.empty()) return "discovery: " + problem;
    std::string problems;
    for (SocketAddress& address : addresses) {
        // Port 0 picks a free port for the first address; the others follow it.
        if (boundPort != 0) SetPort(address, boundPort);
        const int socket = Bind(address, problem);
        if (socket < 0) {
            problems += (problems.empty() ? "" : "; ") + problem;
            continue;
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
    const std::string answer = nlohmann::json{{"AlpacaPort", alpacaPort}}.dump();
    std::vector<pollfd> waiting;
    for (const int socket : sockets) waiting.push_back({socket, POLLIN, 0});
    char datagram[kMaxDatagram];
    while (!stopping) {
        if (poll(waiting.data(), waiting.size(), kPollMilliseconds) <= 0) continue;
        for (const pollfd& one : waiting) {
            if (!(one.revents & POLLIN)) continue;
            sockaddr_storage from{};
            socklen_t length = sizeof from;
            const ssize_t got =
                recvfrom(one.fd, datagram, sizeof datagram, 0, reinterpret_cast<sockaddr*>(&from), &length);
            if (got <= 0) continue;
            // The message may carry more after its name (later versions of the protocol).
            const std::size_t name = std::strlen(kDiscoveryMessage);
            if (static_cast<std::size_t>(got) < name || std::memcmp(datagram, kDiscoveryMessage, name) != 0) continue;
            sendto(one.fd, answer.data(), answer.size(), 0, reinterpret_cast<const sockaddr*>(&from), length);
        }
    }
}

}  // namespace tarnscsi::alpaca
