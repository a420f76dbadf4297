// The Alpaca server as the benchmarks run it: on 127.0.0.1, a port the
// system picks, no discovery.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "server.h"
#include "sim/sim_control.h"

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

// The simulated camera as the Alpaca benchmarks want it (its clock stopped,
// the sky image) and the server started over it; nullptr, once `bench` has
// said why, when it cannot start.
inline std::unique_ptr<alpaca::AlpacaServer> StartLoopbackServer(const char* bench) {
    SimReset();
    SimSetTimeScale(0);
    SimSetImageKind(SIM_IMAGE_SKY);
    auto server = std::make_unique<alpaca::AlpacaServer>(LoopbackServerOptions());
    if (const std::string problem = server->Start(); !problem.empty()) {
        std::fprintf(stderr, "%s: %s\n", bench, problem.c_str());
        return nullptr;
    }
    return server;
}

}  // namespace tarnscsi::bench
