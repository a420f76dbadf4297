// The HTTP server under the Alpaca API, on Boost.Beast over Asio. One
// thread runs every connection, waiting on none of them: a connection costs
// no thread while its client is idle, slow or silent. The handlers, which
// may wait on the camera, run on a few worker threads, so that they never
// hold up the connections. What a connection does with its requests is
// HttpSession's (http_session.h). The connections are capped below the
// process's descriptor limit, which Start raises as far as it goes; at the
// cap a new connection pushes out the slowest (ConnectionTable). Stop ends
// every connection at once. The listening sockets are no one else's: a
// second server on the port fails to bind (GuardListeningPort).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "beast.h"
#include "http_connection_table.h"
#include "http_message.h"
#include "http_routes.h"
#include "http_session.h"
#include "request_gate.h"

namespace tarnscsi::alpaca {

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
    asio::awaitable<void> Serve(Tcp::socket socket);

    const HttpRoutes& routes;
    const RequestGate& gate;
    const HeaderList everyAnswer;
    asio::thread_pool workers{kWorkers};
    const SessionContext context{routes, gate, everyAnswer, workers};
    // Outlives the connections, which leave it as they end.
    ConnectionTable connections;
    std::size_t connectionCap = kMostConnections;
    std::unique_ptr<asio::io_context> io = std::make_unique<asio::io_context>(1);
    std::vector<std::unique_ptr<Tcp::acceptor>> acceptors;
    std::thread ioThread;
    std::mutex mutex;
    std::condition_variable stoppedSignal;
    bool stopped = false;
};

}  // namespace tarnscsi::alpaca
