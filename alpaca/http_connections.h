// The HTTP server under the Alpaca API, on Boost.Beast over Asio. One
// thread runs every connection, waiting on none of them: a connection costs
// no thread while its client is idle, slow or silent. The handlers, which
// may wait on the camera, run on a few worker threads, so that they never
// hold up the connections. For each connection:
// - a request must arrive whole within kRequestAllowance of its first byte
//   (a client that sends its headers a line at a time is cut off), and a
//   connection with no request closes after kIdleConnectionTime;
// - the RequestGate sees the headers before any body is read: a refused
//   request's body is never read;
// - an error answer to a request with a body (or to one that could not be
//   read) ends the connection, so that a body it did not read is never
//   taken for the next request;
// - Range headers are ignored: every answer is the whole body (200);
// - an answer goes out in one write (header and body together), and with
//   TCP_NODELAY, so that a kept-alive client never waits on a delayed
//   acknowledgement.
// Stop ends every connection at once. The listening sockets are no one
// else's: a second server on the port fails to bind (GuardListeningPort).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "beast.h"
#include "http_message.h"
#include "http_routes.h"
#include "request_gate.h"

namespace tarnscsi::alpaca {

inline constexpr auto kRequestAllowance = std::chrono::seconds(10);
inline constexpr auto kIdleConnectionTime = std::chrono::seconds(5);
// Handlers at work at once: a read waits at most for one camera command.
inline constexpr std::size_t kWorkers = 8;

class HttpServer {
public:
    // `everyAnswer`: headers every answer carries, refusals too.
    HttpServer(const HttpRoutes& routes, const RequestGate& gate, HeaderList everyAnswer);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds and listens on `at` (port 0: any free one) and sets `port` to
    // the port taken; the failure otherwise. Clients may connect at once;
    // they are served from Start on.
    boost::system::error_code Listen(const Tcp::endpoint& at, int& port);
    void Start();
    // Until Stop.
    void Wait();
    // Ends every connection at once and stops listening.
    void Stop();

private:
    asio::awaitable<void> Accept(Tcp::acceptor& acceptor);
    asio::awaitable<void> Serve(beast::tcp_stream stream);

    const HttpRoutes& routes;
    const RequestGate& gate;
    const HeaderList everyAnswer;
    asio::thread_pool workers{kWorkers};
    std::unique_ptr<asio::io_context> io = std::make_unique<asio::io_context>(1);
    std::vector<std::unique_ptr<Tcp::acceptor>> acceptors;
    std::thread ioThread;
    std::mutex mutex;
    std::condition_variable stoppedSignal;
    bool stopped = false;
};

}  // namespace tarnscsi::alpaca
