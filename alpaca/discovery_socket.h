// What the discovery responder needs from the system, behind one interface
// for POSIX (discovery_socket_posix.cpp) and Windows
// (discovery_socket_windows.cpp): a UDP socket that tells where each
// datagram was sent and on which interface it came in, answers from a
// chosen source address, and the interfaces of the machine.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "listen_address.h"
#include "sockets.h"

namespace tarnscsi::alpaca {

// One datagram received: who sent it, where to, and through what.
struct Arrival {
    SocketAddress from;
    // Where it was sent (of the socket's family): an address of the
    // machine, a broadcast address or a multicast group.
    in_addr to4{};
    in6_addr to6{};
    // The interface it came in on (0: not told).
    unsigned interfaceIndex = 0;
    // IPv4: the address of the machine an answer would leave from (for a
    // datagram sent to a broadcast address, one of the interface's), or
    // 0.0.0.0 where the system does not tell it (Windows, for broadcasts):
    // the answer then leaves from the address the system picks.
    in_addr local4{};
    // Whether the system told where it was sent; a datagram without it is
    // not answered.
    bool told = false;
};

class DiscoverySocket {
public:
    // A UDP socket on the wildcard address of `family` (AF_INET, AF_INET6)
    // and `port`, shared with the other programs that bind it the same way
    // (SO_REUSEADDR), told each datagram's destination. An IPv6 socket
    // takes IPv6 only. IsOpen() false, with `problem` set, when it failed.
    DiscoverySocket(int family, int port, std::string& problem);
    ~DiscoverySocket();
    DiscoverySocket(const DiscoverySocket&) = delete;
    DiscoverySocket& operator=(const DiscoverySocket&) = delete;

    bool IsOpen() const { return socket != kNoSocket; }
    int Family() const { return family; }
    // The port it is bound to (0 when unknown).
    int Port() const;
    // Joins the IPv6 multicast `group` on interface `index`; a join that
    // fails is left out.
    void JoinGroup(const in6_addr& group, unsigned index);
    // Takes the datagram waiting into `buffer`: its length, 0 when none.
    std::size_t Receive(char* buffer, std::size_t size, Arrival& arrival);
    // Sends `answer` to the sender of `arrival`, from `source4` (IPv4) or
    // `source6` on the interface it came in on (IPv6); an unspecified
    // address leaves the source to the system.
    void Answer(const std::string& answer, const Arrival& arrival, in_addr source4, const in6_addr& source6);

    // Waits up to `milliseconds` for a datagram on any of `sockets`; true
    // for each that has one, in their order.
    static std::vector<bool> Wait(const std::vector<DiscoverySocket*>& sockets, int milliseconds);

private:
    // Binds the wildcard address of the socket's family at `port`, asking
    // for each datagram's destination (IP_PKTINFO, and `v6PacketInfo`, the
    // system's name of the IPv6 option). False, with `problem`, when the
    // bind failed; the socket is left open.
    bool BindWildcard(int port, int v6PacketInfo, std::string& problem);

    NativeSocket socket = kNoSocket;
    int family = 0;
#ifdef _WIN32
    // WSARecvMsg, which Winsock gives only through WSAIoctl.
    void* receiveMessage = nullptr;
#endif
};

// Where a local address lives: its interface and (IPv4) the interface's
// broadcast address. Looked up at each use: interfaces come and go.
struct Interface {
    unsigned index = 0;
    in_addr broadcast{};
    bool hasBroadcast = false;
};
Interface InterfaceOf(const SocketAddress& address);

// The index of the loopback interface for IPv6 (0: none).
unsigned LoopbackInterface6();

// The interfaces that take IPv6 multicast, the loopback one included.
std::vector<unsigned> MulticastInterfaces6();

}  // namespace tarnscsi::alpaca
