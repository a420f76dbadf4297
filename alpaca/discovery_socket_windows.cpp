// Winsock: WSARecvMsg (from WSAIoctl) tells each datagram's destination and
// interface (IP_PKTINFO, IPV6_PKTINFO), WSASendMsg answers from a chosen
// source, GetAdaptersAddresses lists the interfaces.
#include "discovery_socket.h"

#include <iphlpapi.h>
#include <mswsock.h>

#include <cstring>

namespace tarnscsi::alpaca {
namespace {

// An IPv4 address in the list of one adapter, as a raw address.
std::uint32_t RawV4(const SOCKET_ADDRESS& address) {
    return reinterpret_cast<const sockaddr_in*>(address.lpSockaddr)->sin_addr.s_addr;
}
const in6_addr& RawV6(const SOCKET_ADDRESS& address) {
    return reinterpret_cast<const sockaddr_in6*>(address.lpSockaddr)->sin6_addr;
}

// The machine's adapters with their unicast addresses; calls `visit` for
// each until it returns true.
template <typename Visit>
void ForEachAdapter(Visit visit) {
    constexpr ULONG kFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    // The list's size changes when adapters come: a few tries.
    ULONG size = 16 * 1024;
    std::string buffer;
    for (int tries = 0; tries < 3; ++tries) {
        buffer.assign(size, '\0');
        auto* list = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
        const ULONG result = GetAdaptersAddresses(AF_UNSPEC, kFlags, nullptr, list, &size);
        if (result == ERROR_BUFFER_OVERFLOW) continue;
        if (result != NO_ERROR) return;
        for (const IP_ADAPTER_ADDRESSES* at = list; at; at = at->Next) {
            if (visit(*at)) return;
        }
        return;
    }
}

// Whether `address` is one of the machine's own (not a broadcast).
bool IsLocalV4(in_addr address) {
    bool found = false;
    ForEachAdapter([&](const IP_ADAPTER_ADDRESSES& adapter) {
        for (const IP_ADAPTER_UNICAST_ADDRESS* at = adapter.FirstUnicastAddress; at; at = at->Next) {
            if (at->Address.lpSockaddr->sa_family == AF_INET && RawV4(at->Address) == address.s_addr) found = true;
        }
        return found;
    });
    return found;
}

}  // namespace

DiscoverySocket::DiscoverySocket(int addressFamily, int port, std::string& problem) : family(addressFamily) {
    if (problem = UseSockets(); !problem.empty()) return;
    // Not inherited by programs this one starts (Windows 7 SP1 and later).
    socket = WSASocketW(family, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == kNoSocket) {
        problem = "cannot open a UDP socket: " + SocketErrorText(LastSocketError());
        return;
    }
    // Several Alpaca servers on one machine share the discovery port: on
    // Windows SO_REUSEADDR shares a UDP port between programs as well.
    SetSocketOption(socket, SOL_SOCKET, SO_REUSEADDR, 1);
    // An ICMP "port unreachable" for an answer would otherwise fail the
    // next receive.
    BOOL off = FALSE;
    DWORD unused = 0;
    WSAIoctl(socket, SIO_UDP_CONNRESET, &off, sizeof off, nullptr, 0, &unused, nullptr, nullptr);
    GUID id = WSAID_WSARECVMSG;
    DWORD got = 0;
    if (BindWildcard(port, IPV6_PKTINFO, problem)) {
        if (WSAIoctl(socket, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &receiveMessage, sizeof receiveMessage,
                     &got, nullptr, nullptr) == 0) {
            return;
        }
        problem = "cannot read where UDP datagrams were sent (WSARecvMsg): " + SocketErrorText(LastSocketError());
    }
    CloseSocket(socket);
    socket = kNoSocket;
}

std::size_t DiscoverySocket::Receive(char* buffer, std::size_t size, Arrival& arrival) {
    WSABUF part{static_cast<ULONG>(size), buffer};
    // Aligned as WSA_CMSG_FIRSTHDR expects.
    alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN6_PKTINFO)) + WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
    WSAMSG message{};
    message.name = reinterpret_cast<sockaddr*>(&arrival.from.address);
    message.namelen = sizeof arrival.from.address;
    message.lpBuffers = &part;
    message.dwBufferCount = 1;
    message.Control = WSABUF{sizeof control, control};
    DWORD got = 0;
    const auto receive = reinterpret_cast<LPFN_WSARECVMSG>(receiveMessage);
    if (receive(socket, &message, &got, nullptr, nullptr) != 0 || got == 0) return 0;
    arrival.from.length = message.namelen;
    for (WSACMSGHDR* at = WSA_CMSG_FIRSTHDR(&message); at; at = WSA_CMSG_NXTHDR(&message, at)) {
        if (at->cmsg_level == IPPROTO_IP && at->cmsg_type == IP_PKTINFO) {
            IN_PKTINFO info{};
            std::memcpy(&info, WSA_CMSG_DATA(at), sizeof info);
            arrival.to4 = info.ipi_addr;
            arrival.interfaceIndex = info.ipi_ifindex;
            // Winsock does not tell the local address a broadcast came to:
            // an answer to one leaves from the address the system picks.
            if (IsLocalV4(info.ipi_addr)) arrival.local4 = info.ipi_addr;
            arrival.told = true;
        } else if (at->cmsg_level == IPPROTO_IPV6 && at->cmsg_type == IPV6_PKTINFO) {
            IN6_PKTINFO info{};
            std::memcpy(&info, WSA_CMSG_DATA(at), sizeof info);
            arrival.to6 = info.ipi6_addr;
            arrival.interfaceIndex = info.ipi6_ifindex;
            arrival.told = true;
        }
    }
    return got;
}

void DiscoverySocket::Answer(const std::string& answer, const Arrival& arrival, in_addr source4,
                             const in6_addr& source6) {
    WSABUF out{static_cast<ULONG>(answer.size()), const_cast<char*>(answer.data())};
    alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN6_PKTINFO))] = {};
    WSAMSG reply{};
    reply.name = const_cast<sockaddr*>(reinterpret_cast<const sockaddr*>(&arrival.from.address));
    reply.namelen = arrival.from.length;
    reply.lpBuffers = &out;
    reply.dwBufferCount = 1;
    auto* header = reinterpret_cast<WSACMSGHDR*>(control);
    // With no source chosen, no control data: the system picks the source
    // (IP_PKTINFO on send takes only an address of the machine).
    if (family == AF_INET && source4.s_addr != htonl(INADDR_ANY)) {
        IN_PKTINFO info{};
        info.ipi_addr = source4;
        header->cmsg_level = IPPROTO_IP;
        header->cmsg_type = IP_PKTINFO;
        header->cmsg_len = WSA_CMSG_LEN(sizeof info);
        std::memcpy(WSA_CMSG_DATA(header), &info, sizeof info);
        reply.Control = WSABUF{static_cast<ULONG>(WSA_CMSG_SPACE(sizeof info)), control};
    } else if (family == AF_INET6 && !IN6_IS_ADDR_UNSPECIFIED(&source6)) {
        IN6_PKTINFO info{};
        info.ipi6_addr = source6;
        info.ipi6_ifindex = arrival.interfaceIndex;
        header->cmsg_level = IPPROTO_IPV6;
        header->cmsg_type = IPV6_PKTINFO;
        header->cmsg_len = WSA_CMSG_LEN(sizeof info);
        std::memcpy(WSA_CMSG_DATA(header), &info, sizeof info);
        reply.Control = WSABUF{static_cast<ULONG>(WSA_CMSG_SPACE(sizeof info)), control};
    }
    DWORD sent = 0;
    WSASendMsg(socket, &reply, 0, &sent, nullptr, nullptr);
}

std::vector<bool> DiscoverySocket::Wait(const std::vector<DiscoverySocket*>& sockets, int milliseconds) {
    std::vector<WSAPOLLFD> waiting;
    for (const DiscoverySocket* one : sockets) waiting.push_back({one->socket, POLLRDNORM, 0});
    std::vector<bool> ready(sockets.size(), false);
    if (WSAPoll(waiting.data(), static_cast<ULONG>(waiting.size()), milliseconds) <= 0) return ready;
    for (std::size_t i = 0; i < waiting.size(); ++i) ready[i] = (waiting[i].revents & POLLRDNORM) != 0;
    return ready;
}

Interface InterfaceOf(const SocketAddress& address) {
    Interface found;
    const bool v6 = address.Family() == AF_INET6;
    const auto& mine4 = reinterpret_cast<const sockaddr_in*>(&address.address)->sin_addr;
    const auto& mine6 = reinterpret_cast<const sockaddr_in6*>(&address.address)->sin6_addr;
    ForEachAdapter([&](const IP_ADAPTER_ADDRESSES& adapter) {
        for (const IP_ADAPTER_UNICAST_ADDRESS* at = adapter.FirstUnicastAddress; at; at = at->Next) {
            if (at->Address.lpSockaddr->sa_family != address.Family()) continue;
            if (v6 ? std::memcmp(&RawV6(at->Address), &mine6, sizeof mine6) != 0 : RawV4(at->Address) != mine4.s_addr) {
                continue;
            }
            found.index = v6 ? adapter.Ipv6IfIndex : adapter.IfIndex;
            // The subnet's broadcast address, from the prefix's length.
            const unsigned prefix = at->OnLinkPrefixLength;
            if (!v6 && adapter.IfType != IF_TYPE_SOFTWARE_LOOPBACK && prefix < 32) {
                const std::uint32_t host = prefix == 0 ? 0xFFFFFFFFu : 0xFFFFFFFFu >> prefix;
                found.broadcast.s_addr = mine4.s_addr | htonl(host);
                found.hasBroadcast = true;
            }
            return true;
        }
        return false;
    });
    return found;
}

unsigned LoopbackInterface6() {
    unsigned index = 0;
    ForEachAdapter([&](const IP_ADAPTER_ADDRESSES& adapter) {
        if (adapter.IfType == IF_TYPE_SOFTWARE_LOOPBACK && adapter.Ipv6IfIndex != 0) index = adapter.Ipv6IfIndex;
        return index != 0;
    });
    return index;
}

std::vector<unsigned> MulticastInterfaces6() {
    std::vector<unsigned> indexes;
    ForEachAdapter([&](const IP_ADAPTER_ADDRESSES& adapter) {
        const bool multicast =
            !(adapter.Flags & IP_ADAPTER_NO_MULTICAST) || adapter.IfType == IF_TYPE_SOFTWARE_LOOPBACK;
        if (multicast && adapter.Ipv6IfIndex != 0) indexes.push_back(adapter.Ipv6IfIndex);
        return false;
    });
    return indexes;
}

}  // namespace tarnscsi::alpaca
