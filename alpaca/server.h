// The Alpaca server: the device API for camera 0, the management API, the
// setup page, the camera page and the discovery responder, over one
// CameraDevice.
#pragma once

#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "camera_device.h"
#include "discovery.h"
#include "http_routes.h"
#include "reply.h"
#include "request_gate.h"
#include "server_options.h"

namespace tarnscsi::alpaca {

class CameraPage;
class HttpServer;

class AlpacaServer {
public:
    explicit AlpacaServer(ServerOptions options);
    ~AlpacaServer();
    AlpacaServer(const AlpacaServer&) = delete;
    AlpacaServer& operator=(const AlpacaServer&) = delete;

    // Binds every address the listen option stands for and serves them all.
    // "" on success, else why not (then nothing is bound).
    std::string Start();
    // Serves until Stop (from another thread or a signal handler's helper).
    void Wait();
    void Stop();

    int Port() const { return port; }
    int DiscoveryPort() const { return discovery.Port(); }
    CameraDevice& Device() { return device; }

private:
    // Listens on every address on `port` (0: any free port, the same for
    // all); "" on success, else why not, with nothing left bound.
    std::string Bind(const std::vector<SocketAddress>& addresses, int port, int& error);
    void Route();
    void Put(const HttpRequest& request, HttpResponse& response);
    // `form`: the body of a PUT; null for a GET.
    void DeviceRequest(const HttpRequest& request, HttpResponse& response, const std::smatch& path,
                       const std::string* form);
    void Management(const HttpRequest& request, HttpResponse& response, const std::string& what);

    ServerOptions options;
    CameraDevice device;
    std::unique_ptr<CameraPage> page;
    TransactionCounter transactions;
    RequestGate gate;
    HttpRoutes routes;
    // Listening on every address; null until Start binds them.
    std::unique_ptr<HttpServer> http;
    DiscoveryResponder discovery;
    int port = 0;
};

// The UniqueID of camera 0: stable for a host, unless the options name one.
std::string UniqueIdFor(const ServerOptions& options);

}  // namespace tarnscsi::alpaca
