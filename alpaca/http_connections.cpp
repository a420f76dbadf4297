#include "http_connections.h"

#include "sockets.h"

namespace tarnscsi::alpaca {
namespace {

using boost::system::error_code;

// How long the server waits before it accepts again after an accept failed
// for another reason than a lack of descriptors.
constexpr auto kAcceptRetryTime = std::chrono::milliseconds(100);

}  // namespace

HttpServer::HttpServer(const HttpRoutes& httpRoutes, const RequestGate& requestGate, HeaderList headers)
    : routes(httpRoutes), gate(requestGate), everyAnswer(std::move(headers)) {}

HttpServer::~HttpServer() { Stop(); }

error_code HttpServer::Listen(const Tcp::endpoint& at, int& port) {
    auto acceptor = std::make_unique<Tcp::acceptor>(*io);
    error_code error;
    acceptor->open(at.protocol(), error);
    if (!error && !GuardListeningPort(acceptor->native_handle())) {
        error = error_code(LastSocketError(), asio::error::get_system_category());
    }
    if (!error) acceptor->bind(at, error);
    if (!error) acceptor->listen(asio::socket_base::max_listen_connections, error);
    if (error) return error;
    port = acceptor->local_endpoint(error).port();
    acceptors.push_back(std::move(acceptor));
    return error;
}

void HttpServer::Start() {
    connectionCap = ConnectionCapFor(RaiseDescriptorLimit());
    for (const auto& acceptor : acceptors) asio::co_spawn(*io, Accept(*acceptor), asio::detached);
    ioThread = std::thread([this] { io->run(); });
}

void HttpServer::Wait() {
    std::unique_lock lock(mutex);
    stoppedSignal.wait(lock, [this] { return stopped; });
}

void HttpServer::Stop() {
    std::lock_guard lock(mutex);
    if (stopped) return;
    io->stop();
    if (ioThread.joinable()) ioThread.join();
    // Handlers under way finish; what they would send is dropped.
    workers.join();
    acceptors.clear();
    // With the io_context go the connections it ran, each closed.
    io.reset();
    stopped = true;
    stoppedSignal.notify_all();
}

asio::awaitable<void> HttpServer::Accept(Tcp::acceptor& acceptor) {
    asio::steady_timer pause(acceptor.get_executor());
    for (;;) {
        error_code error;
        Tcp::socket socket = co_await acceptor.async_accept(Awaited(error));
        if (error == asio::error::operation_aborted || !acceptor.is_open()) co_return;
        if (error == asio::error::no_descriptors && connections.DropOne()) continue;  // its descriptor is free now
        if (error) {
            pause.expires_after(kAcceptRetryTime);
            co_await pause.async_wait(Awaited(error));
            continue;
        }
        // At the cap the newcomer takes the place of the slowest, or, when
        // every connection is being answered, waits for the client's retry.
        if (connections.Count() >= connectionCap && !connections.DropOne()) continue;
        asio::co_spawn(acceptor.get_executor(), Serve(std::move(socket)), asio::detached);
    }
}

asio::awaitable<void> HttpServer::Serve(Tcp::socket socket) {
    beast::tcp_stream stream(std::move(socket));
    ConnectionTable::Entry entry(connections, [&stream] { stream.close(); });
    HttpSession session(stream, entry, context);
    co_await session.Run();
}

}  // namespace tarnscsi::alpaca
