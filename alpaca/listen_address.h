// The address the server listens on (--listen): an IPv4 or IPv6 address,
// or a name of this machine such as localhost. The HTTP server and the
// discovery responder both read it here, so that a wrong one is reported
// the same way by both and never as a busy port.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "sockets.h"

namespace tarnscsi::alpaca {

struct SocketAddress {
    sockaddr_storage address{};
    socklen_t length = 0;
    int Family() const { return address.ss_family; }
    // The address as text: "127.0.0.1", "::1".
    std::string Text() const;
};

// `listen` without the brackets an IPv6 address may come in ("[::1]").
std::string Unbracketed(const std::string& listen);

// Whether `text` is an IP address rather than a name: an IPv4 address in
// dotted decimal, or an IPv6 address (ip_literal.h).
bool IsIpAddress(const std::string& text);

// The addresses a name stands for, in the order the resolver gives them;
// empty, with `problem` set, when it stands for none.
using NameLookup = std::function<std::vector<SocketAddress>(const std::string& name, std::string& problem)>;

// The system's resolver (/etc/hosts first): localhost may stand for both
// 127.0.0.1 and ::1.
std::vector<SocketAddress> SystemLookup(const std::string& name, std::string& problem);

// Every address `listen` stands for, with `port`, each once. Something made
// of digits and dots, or holding a colon, must be an IP address and is never
// looked up; a name is looked up with `lookup` (SystemLookup when empty).
// Empty, with `problem` set, when it stands for none.
std::vector<SocketAddress> ResolveListen(const std::string& listen, int port, std::string& problem,
                                         const NameLookup& lookup = {});

// What a failed bind of `listen`:`port` means for the user, from the
// system's error (errno, or WSAGetLastError on Windows).
std::string BindProblem(const std::string& listen, int port, int error);

}  // namespace tarnscsi::alpaca
