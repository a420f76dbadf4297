// One connection of the HTTP server: its requests one after another, each
// in four steps.
// - Wait for the request's first byte, at most kIdleConnectionTime.
// - Read it, whole within kRequestAllowance of that byte: empty lines
//   before its request line are ignored (RFC 9112 2.2); its request line
//   and headers, read by Beast's parser and at most kMaxHeaderBytes (431
//   beyond; a line ending in LF alone gets 400 at once), go to the
//   RequestGate before any body is read, so that a refused request's body
//   is never read; then its body, at most kMaxBodyBytes.
// - Answer it on a worker thread (a refusal at once, on the connection's
//   own).
// - Write the answer, in pieces of at most kWritePiece, each given
//   kWriteAllowance to leave: an answer takes as long as a slow link needs
//   while it moves, and a client that takes nothing is cut off. A body
//   made part by part (HttpResponse::SetStream) is sent as it is made.
// An error answer to a request with a body (or to one that could not be
// read) ends the connection, so that a body it did not read is never taken
// for the next request; it lingers for kLingerTime first, so that the
// client reads the answer before the connection is reset. Range headers
// are ignored: every answer is the whole body (200). TCP_NODELAY is on, so
// that a kept-alive client never waits on a delayed acknowledgement.
#pragma once

#include <chrono>
#include <cstddef>

#include "beast.h"
#include "http_connection_table.h"
#include "http_message.h"
#include "http_routes.h"
#include "request_gate.h"

namespace tarnscsi::alpaca {

inline constexpr auto kRequestAllowance = std::chrono::seconds(10);
inline constexpr auto kIdleConnectionTime = std::chrono::seconds(5);
// How long a piece of an answer may take to leave: a client that takes
// less than kWritePiece in this time (about 26 kbit/s) is cut off.
inline constexpr auto kWriteAllowance = std::chrono::seconds(5);
inline constexpr std::size_t kWritePiece = 16 * 1024;
inline constexpr auto kLingerTime = std::chrono::seconds(1);

// What every connection of a server shares.
struct SessionContext {
    const HttpRoutes& routes;
    const RequestGate& gate;
    // Headers every answer carries, refusals too.
    const HeaderList& everyAnswer;
    asio::thread_pool& workers;
};

class HttpSession {
public:
    // `entry`: the connection's place in the server's table, told each step.
    HttpSession(beast::tcp_stream& stream, ConnectionTable::Entry& entry, const SessionContext& context);

    // Until the connection ends.
    asio::awaitable<void> Run();

    // One request and its answer.
    struct Exchange;

private:
    // False when the connection is to end: idle too long, or closed.
    asio::awaitable<bool> AwaitRequest();
    // False when the client went away or ran out of time; a request that
    // cannot be taken gets its refusal in `exchange`.
    asio::awaitable<bool> ReadRequest(Exchange& exchange);
    asio::awaitable<bool> SkipEmptyLines();
    using Parser = http::request_parser<http::string_body>;
    asio::awaitable<boost::system::error_code> ReadHeader(Parser& parser);
    asio::awaitable<void> Answer(Exchange& exchange);
    // False when the answer could not be sent whole.
    asio::awaitable<bool> WriteAnswer(Exchange& exchange);
    asio::awaitable<bool> WriteStreamed(Exchange& exchange, bool headOnly);
    asio::awaitable<void> Linger();

    beast::tcp_stream& stream;
    ConnectionTable::Entry& entry;
    const SessionContext& context;
    beast::flat_buffer buffer;
};

}  // namespace tarnscsi::alpaca
