// The HTTP server under the Alpaca API. cpp-httplib parses and routes the
// requests; this class runs each connection, so that no client can hold the
// others up:
// - a request must arrive whole within kRequestAllowance of its first byte
//   (a client that sends its headers a line at a time is cut off), and a
//   connection with no request closes after the keep-alive time;
// - kWorkers connections are served at once, far more than the few clients
//   of one camera, so that a handful of slow ones leave room;
// - Stop ends every connection at once, whatever its client is doing;
// - an answer that refuses a request can end the connection, so that a body
//   it did not read is never taken for the next request;
// - Range headers are ignored: every answer is the whole body (200).
// Its listening socket is no one else's: a second server on the port fails
// to bind (SO_REUSEADDR, which allows a restart, but not SO_REUSEPORT).
#pragma once

#include <httplib.h>

#include <chrono>
#include <cstddef>

namespace tarnscsi::alpaca {

inline constexpr auto kRequestAllowance = std::chrono::seconds(10);
inline constexpr auto kIdleConnectionTime = std::chrono::seconds(5);
inline constexpr std::size_t kWorkers = 32;

class ConnectionServer : public httplib::Server {
public:
    ConnectionServer();
    ~ConnectionServer() override;
    ConnectionServer(const ConnectionServer&) = delete;
    ConnectionServer& operator=(const ConnectionServer&) = delete;

    // Ends every connection at once and stops listening.
    void StopAll();
    // Closes a socket that was bound but never listened on.
    void CloseUnused();

private:
    bool process_and_close_socket(socket_t connection) override;

    int stopEvent = -1;
};

// From a handler: the connection closes once this answer is sent.
void EndConnectionAfterAnswer();

// Whether the request says a body follows its headers.
bool AnnouncesBody(const httplib::Request& request);

}  // namespace tarnscsi::alpaca
