// The Alpaca server as the benchmarks run it: on 127.0.0.1, a port the
// system picks, no discovery.
#pragma once

#include "server.h"

namespace tarnscsi::bench {

inline constexpr char kLoopback[] = "127.0.0.1";

inline alpaca::ServerOptions LoopbackServerOptions() {
    alpaca::ServerOptions options;
    options.listen = kLoopback;
    options.port = 0;
    options.discovery = false;
    options.version = "bench";
    return options;
}

}  // namespace tarnscsi::bench
