// The Alpaca discovery responder: answers the datagram "alpacadiscovery1"
// on UDP (port 32227 unless told otherwise) with {"AlpacaPort": N}, on every
// address the server listens on that it can bind (localhost may stand for
// 127.0.0.1 and ::1; :: takes IPv4 datagrams too).
#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace tarnscsi::alpaca {

inline constexpr int kDiscoveryPort = 32227;
inline constexpr char kDiscoveryMessage[] = "alpacadiscovery1";

class DiscoveryResponder {
public:
    DiscoveryResponder() = default;
    ~DiscoveryResponder();
    DiscoveryResponder(const DiscoveryResponder&) = delete;
    DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

    // Binds the addresses `listen` stands for on `port` (0: any free port,
    // the same for all) and answers with `alpacaPort` until Stop. "" when at
    // least one is bound, else why none is.
    std::string Start(const std::string& listen, int port, int alpacaPort);
    void Stop();
    int Port() const { return boundPort; }

private:
    void Serve();
    std::vector<int> sockets;
    int boundPort = 0;
    int alpacaPort = 0;
    std::atomic<bool> stopping{false};
    std::thread worker;
};

}  // namespace tarnscsi::alpaca
