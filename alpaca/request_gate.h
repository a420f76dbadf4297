// What is checked of a request before it is routed and before its body is
// read:
// - its Host names this server. A web page whose name an attacker points at
//   127.0.0.1 (DNS rebinding) would otherwise reach the camera through the
//   browser of whoever opens it. Allowed: an IP address (rebinding needs a
//   name; a LAN client that connects by address names the address), the
//   name localhost, the name the server listens on, and the names given
//   with --allow-host. An absolute-form target ("http://host/path") names
//   the server in place of the Host. An HTTP/1.0 request without Host comes
//   from no browser and is allowed too; an HTTP/1.1 one must have a Host.
// - its body is one the server takes: only a PUT has one, of at most
//   kMaxBodyBytes, announced with a valid Content-Length or sent chunked
//   (a chunked body is counted as it is read).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "http_message.h"
#include "http_status.h"

namespace tarnscsi::alpaca {

// Alpaca's requests are short forms.
inline constexpr std::size_t kMaxBodyBytes = 4096;
// The request line and headers together: far more than any client of ours sends.
inline constexpr std::size_t kMaxHeaderBytes = 8192;

struct Refusal {
    int status = 0;
    std::string message;
};

class RequestGate {
public:
    RequestGate(const std::string& listen, const std::vector<std::string>& allowedHosts);

    // Why the request is refused; nothing when it may go on.
    std::optional<Refusal> Check(const HttpRequest& request) const;
    // Whether a Host header of `value` ("name", "name:port", "[::1]:port")
    // may reach the server.
    bool HostAllowed(const std::string& value) const;

private:
    std::vector<std::string> names;  // lower case, without a final dot
};

// The answer to a body longer than kMaxBodyBytes.
Refusal BodyTooLarge(const std::string& size);

// The answer to a request line and headers longer than kMaxHeaderBytes.
Refusal HeadersTooLarge();

// The answer to headers (`head`, as sent, with or without the request
// line) that could not be read, for `why`: a length too long to read is a
// body too large, all else malformed.
Refusal UnreadableHeaders(std::string_view head, const std::string& why);

}  // namespace tarnscsi::alpaca
