#include "request_gate.h"

#include <algorithm>
#include <cctype>

#include "ip_literal.h"
#include "listen_address.h"

namespace tarnscsi::alpaca {
namespace {

constexpr char kLocalhost[] = "localhost";
// What a Host may be made of: a name (letters, digits, hyphens and dots; in
// lower case once compared), an IPv4 address, or an IPv6 one in brackets.
constexpr char kNameCharacters[] = "abcdefghijklmnopqrstuvwxyz0123456789-.";
// More digits than any length this server could take.
constexpr std::size_t kMostLengthDigits = 18;
constexpr std::size_t kMostPortDigits = 5;
constexpr unsigned long kLargestPort = 65535;
constexpr char kMultipart[] = "multipart/form-data";
constexpr std::string_view kContentLengthField = "content-length:";

std::string NameKey(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (!name.empty() && name.back() == '.') name.pop_back();
    return name;
}

bool AllDigits(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

// ":port" (0 to 65535, or none after the colon, as URIs allow) or nothing.
bool PortPart(const std::string& rest) {
    if (rest.empty()) return true;
    const std::string digits = rest.substr(1);
    if (rest[0] != ':' || !AllDigits(digits)) return false;
    const std::size_t significant = digits.size() - std::min(digits.size(), digits.find_first_not_of('0'));
    return significant <= kMostPortDigits && (digits.empty() || std::stoul(digits) <= kLargestPort);
}

std::optional<Refusal> HostRefusal(const RequestGate& gate, const HttpRequest& request) {
    const std::size_t count = request.HeaderCount("Host");
    if (count > 1) return Refusal{kBadRequest, "the request names more than one Host"};
    // RFC 9112 3.2: an HTTP/1.0 client may leave it out (and comes from no
    // browser); every HTTP/1.1 request names one.
    if (count == 0 && request.version >= kHttp11) {
        return Refusal{kBadRequest, "an HTTP/1.1 request must name the server in a Host header"};
    }
    // An absolute-form target names the server in place of the Host (RFC 9112 3.2.2).
    const std::string host = request.authority.empty() ? request.Header("Host") : request.authority;
    if (gate.HostAllowed(host)) return std::nullopt;
    return Refusal{kForbidden, "Host '" + host +
                                   "' is not allowed: name this machine by its IP address or as localhost, or "
                                   "start tarnscsi-alpaca with --allow-host NAME for a name of your own"};
}

std::optional<Refusal> BodyRefusal(const HttpRequest& request) {
    const bool put = request.method == "PUT";
    const bool chunked = request.HasHeader("Transfer-Encoding");
    const std::size_t lengths = request.HeaderCount("Content-Length");
    if (chunked && lengths > 0) {
        return Refusal{kBadRequest, "the request has both Transfer-Encoding and Content-Length"};
    }
    if (chunked && !SameIgnoringCase(request.Header("Transfer-Encoding"), "chunked")) {
        return Refusal{kBadRequest,
                       "Transfer-Encoding '" + request.Header("Transfer-Encoding") + "' is not taken (chunked is)"};
    }
    std::string length;
    for (std::size_t i = 0; i < lengths; ++i) {
        const std::string value = request.Header("Content-Length", i);
        if (value.empty() || !AllDigits(value) || (i > 0 && value != length)) {
            return Refusal{kBadRequest, "Content-Length '" + value + "' is not a length"};
        }
        length = value;
    }
    const std::size_t significant = length.size() - std::min(length.size(), length.find_first_not_of('0'));
    if (significant > kMostLengthDigits || (!length.empty() && std::stoull(length) > kMaxBodyBytes)) {
        return BodyTooLarge(length);
    }
    const bool body = chunked || length.find_first_not_of('0') != std::string::npos;
    if (!put && body) return Refusal{kBadRequest, request.method + " requests carry no body here (PUT takes a form)"};
    if (put && request.Header("Content-Type").starts_with(kMultipart)) {
        return Refusal{kUnsupportedMediaType, "PUT takes an application/x-www-form-urlencoded form, not multipart"};
    }
    return std::nullopt;
}

}  // namespace

RequestGate::RequestGate(const std::string& listen, const std::vector<std::string>& allowedHosts) {
    names.push_back(kLocalhost);
    if (!IsIpAddress(Unbracketed(listen))) names.push_back(NameKey(listen));
    for (const std::string& name : allowedHosts) names.push_back(NameKey(name));
}

bool RequestGate::HostAllowed(const std::string& value) const {
    if (value.empty()) return true;  // no authority to name, as HTTP allows
    // Each part is checked byte by byte, and an address by our own rules
    // (ip_literal.h): "127.0.0.1\0.attacker.example" is no address, and
    // "2130706433" a name on every system.
    if (value[0] == '[') {
        const std::size_t close = value.find(']');
        if (close == std::string::npos || !PortPart(value.substr(close + 1))) return false;
        return IsIpv6Literal(value.substr(1, close - 1));
    }
    const std::size_t colon = value.find(':');
    if (colon != std::string::npos && !PortPart(value.substr(colon))) return false;
    const std::string host = NameKey(value.substr(0, colon));
    if (host.empty() || host.find_first_not_of(kNameCharacters) != std::string::npos) return false;
    if (IsIpv4Literal(host)) return true;
    return std::find(names.begin(), names.end(), host) != names.end();
}

std::optional<Refusal> RequestGate::Check(const HttpRequest& request) const {
    if (auto refusal = HostRefusal(*this, request)) return refusal;
    return BodyRefusal(request);
}

Refusal BodyTooLarge(const std::string& size) {
    return {kPayloadTooLarge, "the request's body" + (size.empty() ? "" : " of " + size + " bytes") + " is over the " +
                                  std::to_string(kMaxBodyBytes) +
                                  " bytes this server takes (Alpaca sends short forms)"};
}

Refusal HeadersTooLarge() {
    return {kHeaderFieldsTooLarge, "the request line and headers are over the " + std::to_string(kMaxHeaderBytes) +
                                       " bytes this server takes"};
}

Refusal UnreadableHeaders(std::string_view head, const std::string& why) {
    // A Content-Length of digits alone is a length, however long: too long
    // for a number is too long for a body.
    // Every line, the first too: the parser may have taken the request line.
    for (std::size_t start = 0; start < head.size(); start = std::min(head.find('\n', start), head.size() - 1) + 1) {
        std::string field(head.substr(start, head.find('\r', start) - start));
        if (field.size() <= kContentLengthField.size() ||
            NameKey(field.substr(0, kContentLengthField.size())) != kContentLengthField) {
            continue;
        }
        std::string value = field.substr(kContentLengthField.size());
        value.erase(0, value.find_first_not_of(" \t"));
        value.erase(value.find_last_not_of(" \t") + 1);
        const std::size_t significant = value.size() - std::min(value.size(), value.find_first_not_of('0'));
        if (!value.empty() && AllDigits(value) && significant > kMostLengthDigits) return BodyTooLarge(value);
    }
    return {kBadRequest, "the request could not be read (" + why + ")"};
}

}  // namespace tarnscsi::alpaca
