#include "http_connections.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

#include "http_status.h"
#include "sockets.h"

namespace tarnscsi::alpaca {
namespace {

using boost::system::error_code;

// How long a connection that ends after a refused request still takes in
// what its client sends (then discarded), so that the client reads the
// answer before the connection is reset.
constexpr auto kLingerTime = std::chrono::seconds(1);
// How long one write of an answer (or of one part of a long one) may take.
constexpr auto kWriteAllowance = std::chrono::seconds(5);
// How long the server waits before it accepts again after a failed accept
// (out of file descriptors: a connection must close first).
constexpr auto kAcceptRetryTime = std::chrono::milliseconds(100);
constexpr std::size_t kReadSize = 4096;
// The request line and headers together: far more than any client of ours sends.
constexpr std::size_t kHeaderLimit = 8192;
constexpr std::string_view kHeaderEnd = "\r\n\r\n";
constexpr std::string_view kContinueLine = "HTTP/1.1 100 Continue\r\n\r\n";
constexpr int kFirstErrorStatus = 400;
constexpr unsigned kHttp10 = 10;
constexpr unsigned kHttp11 = 11;

auto Awaited(error_code& error) { return asio::redirect_error(asio::use_awaitable, error); }

// Runs `work` on a worker thread; the coroutine goes on on its own thread
// once it is done.
template <typename Work>
asio::awaitable<void> OnWorker(asio::thread_pool& workers, Work& work) {
    co_await asio::async_initiate<const asio::use_awaitable_t<>, void()>(
        [&workers, &work](auto handler) {
            asio::post(workers, [&work, handler = std::move(handler)]() mutable {
                work();
                const auto executor = asio::get_associated_executor(handler);
                asio::post(executor, std::move(handler));
            });
        },
        asio::use_awaitable);
}

std::string_view View(beast::string_view text) { return {text.data(), text.size()}; }

std::string_view Text(const beast::flat_buffer& buffer) {
    return {static_cast<const char*>(buffer.data().data()), buffer.size()};
}

HttpRequest RequestOf(const http::request<http::string_body>& message) {
    HttpRequest request;
    request.method = View(message.method_string());
    const std::string_view target = View(message.target());
    const std::size_t query = std::min(target.find('?'), target.size());
    request.path = UrlDecoded(target.substr(0, query), false);
    if (query < target.size()) request.params = FormPairs(target.substr(query + 1));
    for (const auto& field : message) request.headers.emplace_back(View(field.name_string()), View(field.value()));
    return request;
}

void Refuse(HttpResponse& response, const Refusal& refusal) {
    response = HttpResponse{};
    response.status = refusal.status;
    response.SetContent(refusal.message + "\n", kText);
}

// Whether a read failed on what the client sent (rather than on the
// connection, or for want of time).
bool IsMalformed(const error_code& error) {
    return error.category() == http::make_error_code(http::error::bad_target).category() &&
           error != http::error::end_of_stream && error != http::error::partial_message;
}

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
        if (error) {
            pause.expires_after(kAcceptRetryTime);
            co_await pause.async_wait(Awaited(error));
            continue;
        }
        asio::co_spawn(acceptor.get_executor(), Serve(beast::tcp_stream(std::move(socket))), asio::detached);
    }
}

asio::awaitable<void> HttpServer::Serve(beast::tcp_stream stream) {
    error_code error;
    stream.socket().set_option(Tcp::no_delay(true), error);
    beast::flat_buffer buffer;
    bool linger = false;
    for (bool open = true; open;) {
        // The next request's first byte (pipelined ones are here already).
        if (buffer.size() == 0) {
            stream.expires_after(kIdleConnectionTime);
            const std::size_t got = co_await stream.async_read_some(buffer.prepare(kReadSize), Awaited(error));
            if (error) break;
            buffer.commit(got);
        }
        // The rest of the request within its allowance: first its headers,
        // whole, which the gate sees before any body is read.
        stream.expires_after(kRequestAllowance);
        while (Text(buffer).find(kHeaderEnd) == std::string_view::npos && buffer.size() < kHeaderLimit) {
            const std::size_t got = co_await stream.async_read_some(buffer.prepare(kReadSize), Awaited(error));
            if (error) co_return;
            buffer.commit(got);
        }
        http::request_parser<http::string_body> parser;
        parser.header_limit(kHeaderLimit);
        parser.body_limit(std::numeric_limits<std::uint64_t>::max());  // the gate judges the length
        const std::size_t headEnd = Text(buffer).find(kHeaderEnd);
        const std::string_view head =
            headEnd == std::string_view::npos ? Text(buffer) : Text(buffer).substr(0, headEnd + kHeaderEnd.size());
        buffer.consume(parser.put(asio::buffer(head.data(), head.size()), error));
        if (!error && !parser.is_header_done()) error = http::error::header_limit;

        HttpRequest request;
        HttpResponse response;
        std::optional<Refusal> refusal;
        if (error) {
            refusal = UnreadableHeaders(head, error.message());
        } else {
            request = RequestOf(parser.get());
            refusal = gate.Check(request);
        }
        if (!refusal && !parser.is_done()) {
            if (SameIgnoringCase(request.Header("Expect"), "100-continue")) {
                co_await asio::async_write(stream, asio::buffer(kContinueLine.data(), kContinueLine.size()),
                                           Awaited(error));
                if (error) break;
            }
            parser.body_limit(kMaxBodyBytes);
            co_await http::async_read(stream, buffer, parser, Awaited(error));
            if (error == http::error::body_limit) {
                refusal = BodyTooLarge("");
            } else if (error && IsMalformed(error)) {
                refusal = Refusal{kBadRequest, "the request's body could not be read (" + error.message() + ")"};
            } else if (error) {
                break;  // the client went away, or ran out of time
            }
        }
        if (refusal) {
            Refuse(response, *refusal);
        } else {
            request.body = std::move(parser.get().body());
            const auto answer = [this, &request, &response] { routes.Answer(request, response); };
            co_await OnWorker(workers, answer);
        }

        // An error answer may have left a body unread: the connection ends.
        linger = response.status >= kFirstErrorStatus && (request.path.empty() || request.AnnouncesBody());
        const bool keepAlive = !linger && parser.is_header_done() && parser.get().keep_alive();
        open = keepAlive;
        const unsigned version = parser.is_header_done() ? parser.get().version() : kHttp11;

        auto fill = [&](auto& message) {
            for (const auto& [name, value] : everyAnswer) message.set(name, value);
            for (const auto& [name, value] : response.headers) message.insert(name, value);
            if (!keepAlive) {
                message.set(http::field::connection, "close");
            } else if (version == kHttp10) {
                message.set(http::field::connection, "keep-alive");
            }
        };
        const bool headOnly = request.method == "HEAD";
        stream.expires_after(kWriteAllowance);
        if (!response.nextPart) {
            // Header and body in one write.
            http::response<http::string_body> message{static_cast<http::status>(response.status), kHttp11};
            fill(message);
            message.content_length(response.body.size());
            if (!headOnly) message.body() = std::move(response.body);
            http::response_serializer<http::string_body> serializer{message};
            if (headOnly) {
                co_await http::async_write_header(stream, serializer, Awaited(error));
            } else {
                co_await http::async_write(stream, serializer, Awaited(error));
            }
            if (error) co_return;
            continue;
        }
        // A long body, part by part as it is made: the first part goes out with the header.
        http::response<http::buffer_body> message{static_cast<http::status>(response.status), kHttp11};
        fill(message);
        message.content_length(response.streamLength);
        http::response_serializer<http::buffer_body> serializer{message};
        if (headOnly) {
            co_await http::async_write_header(stream, serializer, Awaited(error));
            if (error) co_return;
            continue;
        }
        std::size_t sent = 0;
        std::string_view part;
        bool more = response.nextPart(part);
        for (;;) {
            message.body().data = more ? const_cast<char*>(part.data()) : nullptr;
            message.body().size = more ? part.size() : 0;
            message.body().more = more;
            stream.expires_after(kWriteAllowance);
            co_await http::async_write(stream, serializer, Awaited(error));
            if (error == http::error::need_buffer) error = {};
            if (error) co_return;
            if (!more) break;
            sent += part.size();
            more = sent < response.streamLength && response.nextPart(part);
        }
        // A body that came out short cannot be told from the next answer.
        if (sent != response.streamLength) co_return;
    }
    if (linger) {
        stream.socket().shutdown(Tcp::socket::shutdown_send, error);
        stream.expires_after(kLingerTime);
        while (!error) {  // until the client closes, or kLingerTime
            buffer.clear();
            co_await stream.async_read_some(buffer.prepare(kReadSize), Awaited(error));
        }
    }
}

}  // namespace tarnscsi::alpaca
