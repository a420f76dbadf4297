#include "http_session.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

#include "http_status.h"

namespace tarnscsi::alpaca {
namespace {

using boost::system::error_code;

constexpr std::size_t kReadSize = 4096;
constexpr std::string_view kHeaderEnd = "\r\n\r\n";
constexpr std::string_view kContinueLine = "HTTP/1.1 100 Continue\r\n\r\n";
constexpr int kFirstErrorStatus = 400;

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
    request.version = message.version();
    request.SetTarget(View(message.target()));
    for (const auto& field : message) request.headers.emplace_back(View(field.name_string()), View(field.value()));
    return request;
}

void Refuse(HttpResponse& response, const Refusal& refusal) {
    response = HttpResponse{};
    response.status = refusal.status;
    response.SetContent(refusal.message + "\n", kText);
}

// Whether `header` has a line that ends in LF alone: Beast's parser takes
// only CRLF, and would wait for a CRLFCRLF such a client never sends.
bool HasBareLineFeed(std::string_view header) {
    for (std::size_t at = header.find('\n'); at != std::string_view::npos; at = header.find('\n', at + 1)) {
        if (at == 0 || header[at - 1] != '\r') return true;
    }
    return false;
}

// Whether a read failed on what the client sent (rather than on the
// connection, or for want of time).
bool IsMalformed(const error_code& error) {
    return error.category() == http::make_error_code(http::error::bad_target).category() &&
           error != http::error::end_of_stream && error != http::error::partial_message;
}

// Writes what `serializer` holds, all of it or its header alone, a piece
// at a time, each within kWriteAllowance. http::error::need_buffer: the
// part of a streamed body that it was given has gone.
template <typename Serializer>
asio::awaitable<error_code> WriteInPieces(beast::tcp_stream& stream, Serializer& serializer, bool headerOnly) {
    serializer.limit(kWritePiece);
    serializer.split(headerOnly);
    error_code error;
    while (!error && !(headerOnly ? serializer.is_header_done() : serializer.is_done())) {
        stream.expires_after(kWriteAllowance);
        co_await http::async_write_some(stream, serializer, Awaited(error));
    }
    co_return error;
}

}  // namespace

struct HttpSession::Exchange {
    Parser parser;
    HttpRequest request;
    HttpResponse response;
    std::optional<Refusal> refusal;
    bool keepAlive = false;
};

namespace {

// The answer's status line and headers: every answer's, the route's, and
// whether the connection stays open.
template <typename Message>
void FillHeader(Message& message, const HttpSession::Exchange& exchange, const HeaderList& everyAnswer) {
    for (const auto& [name, value] : everyAnswer) message.set(name, value);
    for (const auto& [name, value] : exchange.response.headers) message.insert(name, value);
    const unsigned version = exchange.parser.is_header_done() ? exchange.parser.get().version() : kHttp11;
    if (!exchange.keepAlive) {
        message.set(http::field::connection, "close");
    } else if (version == kHttp10) {
        message.set(http::field::connection, "keep-alive");
    }
}

}  // namespace

HttpSession::HttpSession(beast::tcp_stream& tcp, ConnectionTable::Entry& place, const SessionContext& shared)
    : stream(tcp), entry(place), context(shared) {}

asio::awaitable<void> HttpSession::Run() {
    error_code error;
    stream.socket().set_option(Tcp::no_delay(true), error);
    for (;;) {
        if (!co_await AwaitRequest()) co_return;
        Exchange exchange;
        entry.Enter(ConnectionTable::Phase::kReading);
        if (!co_await ReadRequest(exchange)) co_return;
        entry.Enter(ConnectionTable::Phase::kAnswering);
        co_await Answer(exchange);
        // An error answer may have left a body unread: the connection ends.
        const HttpRequest& request = exchange.request;
        const bool linger =
            exchange.response.status >= kFirstErrorStatus && (request.path.empty() || request.AnnouncesBody());
        exchange.keepAlive = !linger && exchange.parser.is_header_done() && exchange.parser.get().keep_alive();
        if (!co_await WriteAnswer(exchange)) co_return;
        entry.Enter(ConnectionTable::Phase::kIdle);
        if (linger) co_await Linger();
        if (!exchange.keepAlive) co_return;
    }
}

asio::awaitable<bool> HttpSession::AwaitRequest() {
    if (buffer.size() > 0) co_return true;  // pipelined: here already
    error_code error;
    stream.expires_after(kIdleConnectionTime);
    const std::size_t got = co_await stream.async_read_some(buffer.prepare(kReadSize), Awaited(error));
    buffer.commit(got);
    co_return !error;
}

asio::awaitable<bool> HttpSession::SkipEmptyLines() {
    for (;;) {
        const std::string_view text = Text(buffer);
        std::size_t skipped = 0;
        for (;;) {
            if (text.substr(skipped).starts_with("\r\n")) {
                skipped += 2;
            } else if (text.substr(skipped).starts_with('\n')) {
                skipped += 1;
            } else {
                break;
            }
        }
        buffer.consume(skipped);
        // A CR alone may begin one more empty line.
        if (buffer.size() > 0 && Text(buffer) != "\r") co_return true;
        error_code error;
        const std::size_t got = co_await stream.async_read_some(buffer.prepare(kReadSize), Awaited(error));
        buffer.commit(got);
        if (error) co_return false;
    }
}

asio::awaitable<error_code> HttpSession::ReadHeader(Parser& parser) {
    for (;;) {
        error_code error;
        // What the parser has not taken is header (it takes the request
        // line once whole, the fields once all are in).
        buffer.consume(parser.put(buffer.data(), error));
        if (error != http::error::need_more) co_return error;
        if (HasBareLineFeed(Text(buffer))) co_return http::error::bad_line_ending;
        const std::size_t got = co_await stream.async_read_some(buffer.prepare(kReadSize), Awaited(error));
        buffer.commit(got);
        if (error) co_return error;
    }
}

asio::awaitable<bool> HttpSession::ReadRequest(Exchange& exchange) {
    stream.expires_after(kRequestAllowance);
    if (!co_await SkipEmptyLines()) co_return false;
    auto& parser = exchange.parser;
    parser.header_limit(kMaxHeaderBytes);
    // Any length passes the parser: the gate judges it, before any body is read.
    parser.body_limit(std::numeric_limits<std::uint64_t>::max());
    error_code error = co_await ReadHeader(parser);
    if (error == http::error::header_limit) {
        exchange.refusal = HeadersTooLarge();
        co_return true;
    }
    if (error && IsMalformed(error)) {
        const std::string_view sent = Text(buffer);
        const std::size_t end = sent.find(kHeaderEnd);
        exchange.refusal =
            UnreadableHeaders(end == std::string_view::npos ? sent : sent.substr(0, end), error.message());
        co_return true;
    }
    if (error) co_return false;

    exchange.request = RequestOf(parser.get());
    exchange.refusal = context.gate.Check(exchange.request);
    if (exchange.refusal || parser.is_done()) co_return true;
    if (SameIgnoringCase(exchange.request.Header("Expect"), "100-continue")) {
        co_await asio::async_write(stream, asio::buffer(kContinueLine.data(), kContinueLine.size()), Awaited(error));
        if (error) co_return false;
    }
    parser.body_limit(kMaxBodyBytes);
    co_await http::async_read(stream, buffer, parser, Awaited(error));
    if (error == http::error::body_limit) {
        exchange.refusal = BodyTooLarge("");
    } else if (error && IsMalformed(error)) {
        exchange.refusal = Refusal{kBadRequest, "the request's body could not be read (" + error.message() + ")"};
    } else if (error) {
        co_return false;
    }
    co_return true;
}

asio::awaitable<void> HttpSession::Answer(Exchange& exchange) {
    if (exchange.refusal) {
        Refuse(exchange.response, *exchange.refusal);
        co_return;
    }
    exchange.request.body = std::move(exchange.parser.get().body());
    const auto answer = [this, &exchange] { context.routes.Answer(exchange.request, exchange.response); };
    co_await OnWorker(context.workers, answer);
}

asio::awaitable<bool> HttpSession::WriteAnswer(Exchange& exchange) {
    HttpResponse& response = exchange.response;
    const bool headOnly = exchange.request.method == "HEAD";
    if (response.nextPart) co_return co_await WriteStreamed(exchange, headOnly);
    // Header and body go out together, in pieces.
    http::response<http::string_body> message{static_cast<http::status>(response.status), kHttp11};
    FillHeader(message, exchange, context.everyAnswer);
    message.content_length(response.body.size());
    if (!headOnly) message.body() = std::move(response.body);
    http::response_serializer<http::string_body> serializer{message};
    co_return !co_await WriteInPieces(stream, serializer, headOnly);
}

asio::awaitable<bool> HttpSession::WriteStreamed(Exchange& exchange, bool headOnly) {
    HttpResponse& response = exchange.response;
    http::response<http::buffer_body> message{static_cast<http::status>(response.status), kHttp11};
    FillHeader(message, exchange, context.everyAnswer);
    message.content_length(response.streamLength);
    http::response_serializer<http::buffer_body> serializer{message};
    if (headOnly) co_return !co_await WriteInPieces(stream, serializer, true);
    // Part by part as it is made: the first goes out with the header.
    std::size_t sent = 0;
    std::string_view part;
    bool more = response.nextPart(part);
    for (;;) {
        message.body().data = more ? const_cast<char*>(part.data()) : nullptr;
        message.body().size = more ? part.size() : 0;
        message.body().more = more;
        const error_code error = co_await WriteInPieces(stream, serializer, false);
        if (error && error != http::error::need_buffer) co_return false;
        if (!more) break;
        sent += part.size();
        more = sent < response.streamLength && response.nextPart(part);
    }
    // A body that came out short cannot be told from the next answer.
    co_return sent == response.streamLength;
}

asio::awaitable<void> HttpSession::Linger() {
    error_code error;
    stream.socket().shutdown(Tcp::socket::shutdown_send, error);
    stream.expires_after(kLingerTime);
    while (!error) {  // until the client closes, or kLingerTime
        buffer.clear();
        co_await stream.async_read_some(buffer.prepare(kReadSize), Awaited(error));
    }
}

}  // namespace tarnscsi::alpaca
