// The Alpaca discovery responder: answers the datagram "alpacadiscovery1"
// on UDP (port 32227 unless told otherwise) with {"AlpacaPort": N}.
//
// It receives on every address of the machine (0.0.0.0, and [::] with the
// group ff12::a1:9aca joined), since a socket bound to one address gets
// neither a LAN broadcast nor the loopback broadcast 127.255.255.255, where
// ASCOM's clients look. It answers only the datagrams that arrived for an
// address the server listens on: sent to that address, or broadcast (or
// sent to the IPv6 group) on its interface; the loopback broadcast counts
// for a loopback address. The port is shared (SO_REUSEADDR) with the other
// Alpaca servers of the machine.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "discovery_socket.h"
#include "listen_address.h"

namespace tarnscsi::alpaca {

inline constexpr int kDiscoveryPort = 32227;
inline constexpr char kDiscoveryMessage[] = "alpacadiscovery1";
inline constexpr char kDiscoveryGroup[] = "ff12::a1:9aca";

class DiscoveryResponder {
public:
    DiscoveryResponder() = default;
    ~DiscoveryResponder();
    DiscoveryResponder(const DiscoveryResponder&) = delete;
    DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

    // Serves the addresses `listen` stands for on `port` (0: any free port,
    // the same for IPv4 and IPv6) and answers with `alpacaPort` until Stop.
    // "" when it receives, else why not.
    std::string Start(const std::string& listen, int port, int alpacaPort);
    void Stop();
    int Port() const { return boundPort; }

private:
    void Serve();
    // Answers the datagram waiting on `socket`, if it is one for us.
    void AnswerOne(DiscoverySocket& socket);

    std::vector<SocketAddress> served;
    std::vector<std::unique_ptr<DiscoverySocket>> sockets;
    int boundPort = 0;
    int alpacaPort = 0;
    std::atomic<bool> stopping{false};
    std::thread worker;
};

}  // namespace tarnscsi::alpaca
