// tarnscsi-alpaca: the camera as an ASCOM Alpaca camera device.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>

#include <tarnscsi/manager.h>
#include <tarnscsi/standard_descriptors.h>
#include <tarnscsi/units.h>

#include "server.h"
#include "stop_signal.h"

using namespace tarnscsi;

int main(int argc, char** argv) {
    OpenClosedStandardDescriptors();  // before anything is opened
    alpaca::ServerOptions options;
    options.version = TARNSCSI_VERSION;
    bool noDiscovery = false;

    CLI::App app{"Serves the camera to ASCOM applications over the Alpaca protocol (camera device 0).",
                 "tarnscsi-alpaca"};
    app.set_version_flag("--version", std::string("tarnscsi-alpaca ") + TARNSCSI_VERSION);
    app.add_option("--listen", options.listen,
                   "Address to listen on: 127.0.0.1 (this machine only) unless another is given, "
                   "such as 0.0.0.0 for every network")
        ->capture_default_str();
    app.add_option("--allow-host", options.allowedHosts,
                   "A name clients may reach the server by (repeatable). Requests must name the server by an IP "
                   "address, as localhost or by the --listen name; others are refused (a guard against web pages "
                   "that reach local servers through DNS rebinding)");
    app.add_option("--port", options.port, "HTTP port of the Alpaca API")
        ->capture_default_str()
        ->check(CLI::Range(0, 65535));
    app.add_option("--discovery-port", options.discoveryPort, "UDP port of Alpaca discovery")
        ->capture_default_str()
        ->check(CLI::Range(0, 65535));
    app.add_flag("--no-discovery", noDiscovery, "Do not answer Alpaca discovery");
    app.add_option("--location", options.location, "Where the camera is, for the management API");
    app.add_option("--unique-id", options.uniqueId, "UniqueID of the camera (default: derived from the host name)");
    app.add_flag("--simulate", options.simulated,
                 std::string("Use the simulated camera (the simulator found beside the program; ") +
                     kSimulatorVariable + " names another one)");
    CLI11_PARSE(app, argc, argv);
    options.discovery = !noDiscovery;

    const std::string problem =
        options.simulated ? UseManager({ManagerKind::kSimulator, {}}) : UseManagerFromEnvironment();
    if (!problem.empty()) {
        std::fprintf(stderr, "tarnscsi-alpaca: cannot use the simulator: %s\n", problem.c_str());
        return 1;
    }

    // Ctrl-C and SIGTERM (on Windows also closing the console) end the
    // server: taken by Wait below, never by the server's threads. Made
    // before the server, so that a console close waits for its stop.
    alpaca::StopRequests stopRequests;

    alpaca::AlpacaServer server(options);
    if (const std::string failed = server.Start(); !failed.empty()) {
        std::fprintf(stderr, "tarnscsi-alpaca: %s\n", failed.c_str());
        return 1;
    }
    std::printf("tarnscsi-alpaca: Alpaca API on http://%s:%d/ (camera page /, setup page /setup)",
                options.listen.c_str(), server.Port());
    if (options.discovery) std::printf(", discovery on UDP %d", server.DiscoveryPort());
    std::printf("\n");
    std::fflush(stdout);

    stopRequests.Wait();
    server.Stop();
    // The warm-up does not outlive the server: say where it stopped.
    if (const alpaca::DeviceStatus status = server.Device().Status(); status.warmingUp) {
        char where[32] = "";
        if (status.cooling)
            std::snprintf(where, sizeof where, " (%.1f C)", TenthsToCelsius(status.cooling->temperature));
        std::fprintf(stderr,
                     "tarnscsi-alpaca: stopped during the cooler's warm-up: the sensor%s keeps its last setpoint until "
                     "a program sets another (tarnscsi cool --off warms it up)\n",
                     where);
    }
    return 0;
}
