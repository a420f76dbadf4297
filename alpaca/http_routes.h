// Which handler answers a request: GET (and HEAD) and PUT routes, each a
// regular expression the whole path must match, tried in the order given.
#pragma once

#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "http_message.h"

namespace tarnscsi::alpaca {

class HttpRoutes {
public:
    using Handler = std::function<void(const HttpRequest&, HttpResponse&)>;

    void Get(const std::string& pattern, Handler handler);
    void Put(const std::string& pattern, Handler handler);

    // Answers by the first route that matches (404 when none does); a fault
    // of a handler's is answered with 500, saying what it was.
    void Answer(HttpRequest& request, HttpResponse& response) const;

private:
    struct Route {
        std::string method;
        std::regex pattern;
        Handler handler;
    };
    std::vector<Route> routes;
};

}  // namespace tarnscsi::alpaca
