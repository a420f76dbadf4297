#include "discovery.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>

namespace tarnscsi::alpaca {
namespace {

// How often the responder looks whether it should stop.
constexpr int kPollMilliseconds = 200;
constexpr std::size_t kMaxDatagram = 512;

}  // namespace

DiscoveryResponder::~DiscoveryResponder() { Stop(); }

std::string DiscoveryResponder::Start(const std::string& address, int port, int answerPort) {
    alpacaPort = answerPort;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<std::uint16_t>(port));
    if (inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) {
        return "discovery: '" + address + "' is not an IPv4 address";
    }
    socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket < 0) return std::string("discovery: cannot open a UDP socket: ") + std::strerror(errno);
    // Several Alpaca servers on one machine share the discovery port.
    const int on = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const std::string why = std::strerror(errno);
        close(socket);
        socket = -1;
        return "discovery: cannot bind UDP " + address + ":" + std::to_string(port) + ": " + why +
               " (another program may hold the port; --no-discovery leaves discovery out)";
    }
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    getsockname(socket, reinterpret_cast<sockaddr*>(&bound), &length);
    boundPort = ntohs(bound.sin_port);
    stopping = false;
    worker = std::thread([this] { Serve(); });
    return {};
}

void DiscoveryResponder::Stop() {
    stopping = true;
    if (worker.joinable()) worker.join();
    if (socket >= 0) close(socket);
    socket = -1;
}

void DiscoveryResponder::Serve() {
    const std::string answer = nlohmann::json{{"AlpacaPort", alpacaPort}}.dump();
    char datagram[kMaxDatagram];
    while (!stopping) {
        pollfd waiting{socket, POLLIN, 0};
        if (poll(&waiting, 1, kPollMilliseconds) <= 0) continue;
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t got = recvfrom(socket, datagram, sizeof datagram, 0, reinterpret_cast<sockaddr*>(&from), &length);
        if (got <= 0) continue;
        // The message may carry more after its name (later versions of the protocol).
        const std::size_t name = std::strlen(kDiscoveryMessage);
        if (static_cast<std::size_t>(got) < name || std::memcmp(datagram, kDiscoveryMessage, name) != 0) continue;
        sendto(socket, answer.data(), answer.size(), 0, reinterpret_cast<const sockaddr*>(&from), length);
    }
}

}  // namespace tarnscsi::alpaca
