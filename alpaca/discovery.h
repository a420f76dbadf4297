// The Alpaca discovery responder: answers the datagram "alpacadiscovery1"
// on UDP (port 32227 unless told otherwise) with {"AlpacaPort": N}, from the
// address the server listens on.
#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace tarnscsi::alpaca {

inline constexpr int kDiscoveryPort = 32227;
inline constexpr char kDiscoveryMessage[] = "alpacadiscovery1";

class DiscoveryResponder {
public:
    DiscoveryResponder() = default;
    ~DiscoveryResponder();
    DiscoveryResponder(const DiscoveryResponder&) = delete;
    DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

    // Binds `address`:`port` (0: any free port) and answers with
    // `alpacaPort` until Stop. "" on success, else why not.
    std::string Start(const std::string& address, int port, int alpacaPort);
    void Stop();
    int Port() const { return boundPort; }

private:
    void Serve();
    int socket = -1;
    int boundPort = 0;
    int alpacaPort = 0;
    std::atomic<bool> stopping{false};
    std::thread worker;
};

}  // namespace tarnscsi::alpaca
