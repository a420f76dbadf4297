#include "http_routes.h"

#include <exception>

#include "http_status.h"

namespace tarnscsi::alpaca {

void HttpRoutes::Get(const std::string& pattern, Handler handler) {
    routes.push_back({"GET", std::regex(pattern), std::move(handler)});
}

void HttpRoutes::Put(const std::string& pattern, Handler handler) {
    routes.push_back({"PUT", std::regex(pattern), std::move(handler)});
}

void HttpRoutes::Answer(HttpRequest& request, HttpResponse& response) const {
    const std::string method = request.method == "HEAD" ? "GET" : request.method;
    std::string fault;
    try {
        for (const Route& route : routes) {
            if (route.method == method && std::regex_match(request.path, request.matches, route.pattern)) {
                return route.handler(request, response);
            }
        }
        response.status = kNotFound;
        response.SetContent("nothing here: " + request.method + " " + request.path + "\n", kText);
        return;
    } catch (const std::exception& e) {
        fault = e.what();
    } catch (...) {
        fault = "unknown";
    }
    response = HttpResponse{};
    response.status = kInternalError;
    response.SetContent("the server failed on this request (" + fault + ")\n", kText);
}

}  // namespace tarnscsi::alpaca
