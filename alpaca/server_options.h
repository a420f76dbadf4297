// How the server is set up: where it listens, discovery, and what the
// management API says about it.
#pragma once

#include <string>
#include <vector>

#include "listen_address.h"

namespace tarnscsi::alpaca {

inline constexpr char kDefaultListen[] = "127.0.0.1";
inline constexpr int kDefaultPort = 11111;

struct ServerOptions {
    std::string listen = kDefaultListen;
    // Names besides localhost and the listening one that requests may give
    // as their Host (IP addresses always may).
    std::vector<std::string> allowedHosts;
    int port = kDefaultPort;  // 0: any free port
    bool discovery = true;
    int discoveryPort = 32227;  // 0: any free port
    std::string location;       // what the management description says
    std::string uniqueId;       // "" for the one derived from the host name
    std::string version;
    bool simulated = false;
    // How the listen name is looked up: the system's resolver unless tests
    // give another.
    NameLookup lookup;
};

}  // namespace tarnscsi::alpaca
