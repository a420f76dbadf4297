#include "listen_address.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "ip_literal.h"

namespace tarnscsi::alpaca {
namespace {

std::string WithPort(const std::string& host, int port) {
    const bool ipv6 = host.find(':') != std::string::npos;
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool SameAddress(const SocketAddress& a, const SocketAddress& b) {
    return a.length == b.length && std::memcmp(&a.address, &b.address, a.length) == 0;
}

void AtPort(SocketAddress& address, int port) {
    const auto network = htons(static_cast<std::uint16_t>(port));
    if (address.Family() == AF_INET6) {
        reinterpret_cast<sockaddr_in6*>(&address.address)->sin6_port = network;
    } else if (address.Family() == AF_INET) {
        reinterpret_cast<sockaddr_in*>(&address.address)->sin_port = network;
    }
}

// What getaddrinfo gives for `host` (of every family, numeric only when
// `numeric`); empty with `problem` set when it fails.
std::vector<SocketAddress> Lookup(const std::string& host, int port, bool numeric, std::string& problem) {
    if (problem = UseSockets(); !problem.empty()) return {};
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV | (numeric ? AI_NUMERICHOST : 0);
    addrinfo* found = nullptr;
    if (const int failed = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found); failed != 0) {
        problem = gai_strerror(failed);
        return {};
    }
    std::vector<SocketAddress> addresses;
    for (const addrinfo* at = found; at; at = at->ai_next) {
        if (at->ai_addrlen > sizeof(sockaddr_storage)) continue;
        SocketAddress address;
        std::memcpy(&address.address, at->ai_addr, at->ai_addrlen);
        address.length = static_cast<socklen_t>(at->ai_addrlen);
        addresses.push_back(address);
    }
    freeaddrinfo(found);
    return addresses;
}

}  // namespace

std::string SocketAddress::Text() const {
    // With the zone of a link-local address ("fe80::1%eth0"), as bind needs it.
    char text[NI_MAXHOST] = {};
    if (!UseSockets().empty()) return "?";
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, text, sizeof text, nullptr, 0,
                    NI_NUMERICHOST) != 0) {
        return "?";
    }
    return text;
}

std::string Unbracketed(const std::string& listen) {
    if (listen.size() >= 2 && listen.front() == '[' && listen.back() == ']') return listen.substr(1, listen.size() - 2);
    return listen;
}

bool IsIpAddress(const std::string& text) { return IsIpv4Literal(text) || IsIpv6Literal(text); }

std::vector<SocketAddress> SystemLookup(const std::string& name, std::string& problem) {
    return Lookup(name, 0, false, problem);
}

std::vector<SocketAddress> ResolveListen(const std::string& listen, int port, std::string& problem,
                                         const NameLookup& lookup) {
    const std::string host = Unbracketed(listen);
    if (host.empty()) {
        problem = "--listen needs an address, such as 127.0.0.1 (this machine) or 0.0.0.0 (every network)";
        return {};
    }
    // "300.1.2.3" and "::g" are mistyped addresses, not names to ask DNS for.
    const bool numeric =
        host.find(':') != std::string::npos || host.find_first_not_of("0123456789.") == std::string::npos;
    std::string why;
    const std::vector<SocketAddress> found = numeric  ? Lookup(host, port, true, why)
                                             : lookup ? lookup(host, why)
                                                      : SystemLookup(host, why);
    std::vector<SocketAddress> addresses;
    for (SocketAddress address : found) {
        if (address.Family() != AF_INET && address.Family() != AF_INET6) continue;
        AtPort(address, port);
        const auto same = [&address](const SocketAddress& other) { return SameAddress(address, other); };
        if (std::none_of(addresses.begin(), addresses.end(), same)) addresses.push_back(address);
    }
    if (found.empty()) {
        problem = numeric ? "'" + listen + "' is not an IP address"
                          : "'" + listen + "' is neither an IP address nor a known name (" + why + ")";
    } else if (addresses.empty()) {
        problem = "'" + listen + "' names no IPv4 or IPv6 address";
    }
    return addresses;
}

std::string BindProblem(const std::string& listen, int port, int error) {
    const std::string where = "cannot listen on " + WithPort(Unbracketed(listen), port) + ": ";
    switch (error) {
        case kAddressInUse:
            return where + "port " + std::to_string(port) + " is in use by another program; choose one with --port";
        case kAddressNotAvailable:
            return where + "'" + listen +
                   "' is not an address of this machine (ip address lists them; 0.0.0.0 listens on all)";
        case kAccessDenied: return where + AccessDeniedText(port);
        default: return where + SocketErrorText(error);
    }
}

}  // namespace tarnscsi::alpaca
