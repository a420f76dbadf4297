// One HTTP request as the routes see it, and the answer they make: plain
// values, whatever library reads and writes them on the connection.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnscsi::alpaca {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

inline constexpr unsigned kHttp10 = 10;
inline constexpr unsigned kHttp11 = 11;

struct HttpRequest {
    std::string method;
    unsigned version = kHttp11;  // 10 or 11
    std::string path;            // percent-decoded, without the query
    // The host and port of an absolute-form target ("http://host:port/path",
    // RFC 9112 3.2.2), which stands in for the Host; "" for a path alone.
    std::string authority;
    std::multimap<std::string, std::string> params;  // the decoded query
    HeaderList headers;                              // in the order sent
    std::string body;                                // read whole before routing
    std::smatch matches;                             // of the route's pattern in `path`

    // Header names are matched whatever their case.
    bool HasHeader(std::string_view name) const { return HeaderCount(name) > 0; }
    std::size_t HeaderCount(std::string_view name) const;
    // The `index`th value of `name`; "" when there is none.
    std::string Header(std::string_view name, std::size_t index = 0) const;
    // The first value of the query parameter; "" when there is none.
    std::string Param(const std::string& name) const;
    // Whether the headers say a body follows them.
    bool AnnouncesBody() const;
    // Sets the path, query and authority from the request line's target:
    // "/path?query", or "http://authority/path?query".
    void SetTarget(std::string_view target);
};

struct HttpResponse {
    // The next part of a body made as it is sent, in `part` (valid until the
    // next call); false once there is no more.
    using PartSource = std::function<bool(std::string_view& part)>;

    int status = 200;
    HeaderList headers;
    std::string body;
    // A body sent part by part, of `streamLength` bytes; empty: `body`.
    PartSource nextPart;
    std::size_t streamLength = 0;

    void SetHeader(const std::string& name, const std::string& value);
    void SetContent(std::string content, const std::string& type);
    void SetContent(const void* data, std::size_t size, const std::string& type);
    void SetStream(std::size_t length, const std::string& type, PartSource source);
};

// Whether two header names (or parameter names) are the same but for case.
bool SameIgnoringCase(std::string_view a, std::string_view b);

// "a%20b+c" as a form or query gives it: "a b c".
std::string UrlDecoded(std::string_view text, bool plusIsSpace);
// The pairs of an application/x-www-form-urlencoded text ("a=1&b=2"),
// decoded; a pair without '=' has an empty value, one without a name is left out.
std::multimap<std::string, std::string> FormPairs(std::string_view text);

}  // namespace tarnscsi::alpaca
