#include "server.h"

#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "camera_members.h"
#include "http_connections.h"
#include "http_status.h"
#include "image_encoding.h"
#include "listen_address.h"
#include "page_routes.h"
#include "request_parameters.h"
#include "setup_page.h"

namespace tarnscsi::alpaca {
namespace {

constexpr char kDeviceType[] = "camera";
constexpr char kDeviceNumber[] = "0";
// /api/v1/<device type>/<device number>/<member>
constexpr char kMemberPath[] = R"(/api/v1/([^/]+)/([^/]+)/([^/]+))";
constexpr int kSupportedApiVersion = 1;
// How long Start waits for the listening threads to take over (they do at once).
constexpr auto kListenerStartLimit = std::chrono::seconds(10);
// How often Start seeks a free port that is free on every address (--port 0
// with a name that stands for several): another program may hold on one
// address the port the first one got.
constexpr int kFreePortTries = 8;
// Every answer forbids other sites to show it in a frame of theirs, where
// a click meant for their page would press the camera page's controls.
const httplib::Headers kNoFraming = {{"Content-Security-Policy", "frame-ancestors 'none'"},
                                     {"X-Frame-Options", "DENY"}};

bool WantsImageBytes(const httplib::Request& request) {
    return request.get_header_value("Accept").find(image_bytes::kMediaType) != std::string::npos;
}

void Malformed(httplib::Response& response, int status, const std::string& message) {
    response.status = status;
    response.set_content(message + "\n", kText);
}

// The header, then the image straight from the image's own memory: the
// image is shared, so it lives until the answer has gone out.
void SendImageBytes(httplib::Response& response, const std::shared_ptr<const Image>& image, const Transaction& ids) {
    const char* data = ImageBytesData(*image);
    if (!data) return response.set_content(ImageBytesAnswer(*image, ids), image_bytes::kMediaType);
    auto header = std::make_shared<const std::string>(ImageBytesHeader(*image, ids));
    const std::size_t dataLength = image->columns.size() * sizeof(std::uint16_t);
    response.set_content_provider(
        header->size() + dataLength, image_bytes::kMediaType,
        [header, image, data](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            if (offset < header->size()) {
                const std::size_t part = std::min(length, header->size() - offset);
                return sink.write(header->data() + offset, part);
            }
            return sink.write(data + (offset - header->size()), length);
        });
}

// The JSON answer, sent part by part as it is made.
void SendImageArray(httplib::Response& response, const std::shared_ptr<const Image>& image, const Transaction& ids) {
    struct Progress {
        ImageArrayJsonWriter writer;
        std::string part;
        std::size_t sent = 0;  // of `part`
    };
    auto progress = std::make_shared<Progress>(Progress{ImageArrayJsonWriter(image, ids), {}, 0});
    const std::size_t length = progress->writer.Length();
    response.set_content_provider(length, kJson, [progress](std::size_t, std::size_t, httplib::DataSink& sink) {
        if (progress->sent == progress->part.size()) {
            if (!progress->writer.Next(progress->part)) return false;
            progress->sent = 0;
        }
        const std::size_t left = progress->part.size() - progress->sent;
        const char* from = progress->part.data() + progress->sent;
        progress->sent = progress->part.size();
        return sink.write(from, left);
    });
}

}  // namespace

std::string UniqueIdFor(const ServerOptions& options) {
    if (!options.uniqueId.empty()) return options.uniqueId;
    // FNV-1a of the host name and the device: the same on every start.
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    const std::string key = std::string(host) + "/tarnscsi/camera/0";
    std::uint64_t a = 0xcbf29ce484222325ULL;
    std::uint64_t b = 0x84222325cbf29ce4ULL;
    for (const unsigned char c : key) {
        a = (a ^ c) * 0x100000001b3ULL;
        b = (b ^ c) * 0x100000001b3ULL + 1;
    }
    char text[40];
    std::snprintf(text, sizeof text, "%08x-%04x-%04x-%04x-%012llx", static_cast<unsigned>(a >> 32),
                  static_cast<unsigned>((a >> 16) & 0xFFFF), static_cast<unsigned>(0x5000 | (a & 0x0FFF)),
                  static_cast<unsigned>(0x8000 | ((b >> 48) & 0x3FFF)),
                  static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFULL));
    return text;
}

AlpacaServer::AlpacaServer(ServerOptions given)
    : options(std::move(given)),
      page(std::make_unique<CameraPage>(device, options)),
      gate(options.listen, options.allowedHosts) {
    device.ListenToCooling([history = &page->History()](const CoolingSample& sample) { history->Add(sample); });
}

AlpacaServer::~AlpacaServer() {
    Stop();
    // The device's ticker outlives the page: it must stop telling it.
    device.ListenToCooling({});
}

std::string AlpacaServer::Start() {
    std::string problem;
    const std::vector<SocketAddress> addresses = ResolveListen(options.listen, options.port, problem, options.lookup);
    if (addresses.empty()) return "cannot listen: " + problem;
    for (int tries = 1;; ++tries) {
        int error = 0;
        problem = Bind(addresses, options.port, error);
        if (problem.empty()) break;
        if (options.port != 0 || error != EADDRINUSE || tries == kFreePortTries) return problem;
    }
    if (options.discovery) {
        if (problem = discovery.Start(options.listen, options.discoveryPort, port); !problem.empty()) {
            for (const auto& server : http) server->CloseUnused();
            http.clear();
            return problem;
        }
    }
    for (const auto& server : http) listeners.emplace_back([one = server.get()] { one->listen_after_bind(); });
    // The sockets listen from the bind on: clients may connect at once. Stop
    // needs the listening threads under way.
    const auto limit = std::chrono::steady_clock::now() + kListenerStartLimit;
    for (const auto& server : http) {
        while (!server->is_running() && std::chrono::steady_clock::now() < limit) std::this_thread::yield();
    }
    return {};
}

std::string AlpacaServer::Bind(const std::vector<SocketAddress>& addresses, int wanted, int& error) {
    port = wanted;
    std::string skipped;
    for (const SocketAddress& address : addresses) {
        auto server = std::make_unique<ConnectionServer>();
        Route(*server);
        const std::string host = address.Text();
        errno = 0;
        int bound = -1;
        if (port == 0) {
            bound = server->bind_to_any_port(host);
        } else if (server->bind_to_port(host, port)) {
            bound = port;
        }
        if (bound > 0) {
            port = bound;
            http.push_back(std::move(server));
            continue;
        }
        error = errno;
        // Where a name stands for several addresses, the message names the
        // one that failed. One the machine lacks (::1 without IPv6) is left
        // to the others, but a busy port on any of them refuses the start.
        const std::string named = addresses.size() > 1 ? host : options.listen;
        const std::string problem = BindProblem(named, port, error);
        const bool lacking = error == EADDRNOTAVAIL || error == EAFNOSUPPORT;
        if (addresses.size() > 1 && lacking) {
            if (skipped.empty()) skipped = problem;
            continue;
        }
        for (const auto& unused : http) unused->CloseUnused();
        http.clear();
        return problem;
    }
    return http.empty() ? skipped : std::string();
}

void AlpacaServer::Wait() {
    for (std::thread& listener : listeners) {
        if (listener.joinable()) listener.join();
    }
}

void AlpacaServer::Stop() {
    for (const auto& server : http) server->StopAll();
    Wait();
    discovery.Stop();
}

void AlpacaServer::Route(ConnectionServer& server) {
    server.set_default_headers(kNoFraming);
    server.Get(kMemberPath,
               [this](const httplib::Request& q, httplib::Response& r) { DeviceRequest(q, r, q.matches, nullptr); });
    // PUT bodies are read here, where their length is counted: a chunked
    // one is refused as soon as it is too long.
    server.Put(".*", [this](const httplib::Request& q, httplib::Response& r, const httplib::ContentReader& reader) {
        Put(q, r, reader);
    });
    // The Host and the announced body are checked before anything is read.
    const auto refused = [this](const httplib::Request& q, httplib::Response& r) {
        const auto refusal = gate.Check(q);
        if (refusal) Malformed(r, refusal->status, refusal->message);
        return refusal.has_value();
    };
    server.set_pre_routing_handler([refused](const httplib::Request& q, httplib::Response& r) {
        return refused(q, r) ? httplib::Server::HandlerResponse::Handled : httplib::Server::HandlerResponse::Unhandled;
    });
    server.set_expect_100_continue_handler(
        [refused](const httplib::Request& q, httplib::Response& r) { return refused(q, r) ? r.status : kContinue; });
    server.Get("/management/apiversions",
               [this](const httplib::Request& q, httplib::Response& r) { Management(q, r, "apiversions"); });
    server.Get(R"(/management/v1/(description|configureddevices))",
               [this](const httplib::Request& q, httplib::Response& r) { Management(q, r, q.matches[1]); });
    const auto setup = [this](const httplib::Request&, httplib::Response& r) {
        r.set_content(SetupPage(device.Status(), options, port, discovery.Port()), kHtml);
    };
    server.Get("/setup", setup);
    server.Get("/setup/v1/camera/0/setup", setup);
    page->Route(server);
    // A fault of ours still gets an answer that says so.
    server.set_exception_handler([](const httplib::Request&, httplib::Response& r, std::exception_ptr fault) {
        std::string what = "unknown";
        try {
            std::rethrow_exception(fault);
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {}
        Malformed(r, kInternalError, "the server failed on this request (" + what + ")");
    });
}

void AlpacaServer::Management(const httplib::Request& request, httplib::Response& response, const std::string& what) {
    const RequestParameters params = RequestParameters::FromQuery(request.params);
    if (params.IdProblem()) return Malformed(response, kBadRequest, params.IdProblem()->message);
    nlohmann::json value;
    if (what == "apiversions") {
        value = nlohmann::json::array({kSupportedApiVersion});
    } else if (what == "description") {
        value = {{"ServerName", "tarnscsi-alpaca"},
                 {"Manufacturer", "tarnscsi"},
                 {"ManufacturerVersion", options.version},
                 {"Location", options.location}};
    } else {
        value = nlohmann::json::array({{{"DeviceName", CameraModel()},
                                        {"DeviceType", "Camera"},
                                        {"DeviceNumber", 0},
                                        {"UniqueID", UniqueIdFor(options)}}});
    }
    const Transaction ids{params.ClientTransactionId(), transactions.Next()};
    response.set_content(ReplyJson(Reply::Of(std::move(value)), ids), kJson);
}

void AlpacaServer::Put(const httplib::Request& request, httplib::Response& response,
                       const httplib::ContentReader& reader) {
    std::string form;
    bool tooLong = false;
    if (AnnouncesBody(request)) {
        const bool read = reader([&form, &tooLong](const char* data, std::size_t length) {
            tooLong = form.size() + length > kMaxBodyBytes;
            if (!tooLong) form.append(data, length);
            return !tooLong;
        });
        if (tooLong) {
            const Refusal refusal = BodyTooLarge("");
            return Malformed(response, refusal.status, refusal.message);
        }
        if (!read) return Malformed(response, kBadRequest, "the request's body could not be read whole");
    }
    if (request.path.starts_with(kPageControlPrefix)) return page->Control(request.path, form, response);
    static const std::regex memberPath(kMemberPath);
    std::smatch path;
    if (!std::regex_match(request.path, path, memberPath)) {
        return Malformed(response, kNotFound, "nothing here takes PUT: " + request.path);
    }
    DeviceRequest(request, response, path, &form);
}

void AlpacaServer::DeviceRequest(const httplib::Request& request, httplib::Response& response, const std::smatch& path,
                                 const std::string* form) {
    const bool put = form != nullptr;
    const std::string type = path[1];
    const std::string number = path[2];
    const std::string member = path[3];
    if (type != kDeviceType) return Malformed(response, kNotFound, "no device type '" + type + "' here (camera only)");
    if (number != kDeviceNumber) return Malformed(response, kNotFound, "no camera number '" + number + "' (0 only)");

    const DriverText driver{options.version};
    bool known = false;
    const MemberHandler handler = FindMember(member, put ? Verb::kPut : Verb::kGet, driver, known);
    const bool image = member == "imagearray" || member == "imagearrayvariant";
    if (!known) return Malformed(response, kNotFound, "the camera has no member '" + member + "'");
    if (!handler && !(image && !put)) {
        return Malformed(response, kMethodNotAllowed, member + " does not take " + (put ? "PUT" : "GET"));
    }

    const RequestParameters params =
        put ? RequestParameters::FromForm(*form) : RequestParameters::FromQuery(request.params);
    if (params.IdProblem()) return Malformed(response, kBadRequest, params.IdProblem()->message);

    if (image) {
        auto answer = device.LastImage();
        const Transaction ids{params.ClientTransactionId(), transactions.Next()};
        const bool bytes = WantsImageBytes(request);
        if (auto* failure = std::get_if<Failure>(&answer)) {
            if (bytes) return response.set_content(ImageBytesError(*failure, ids), image_bytes::kMediaType);
            return response.set_content(ReplyJson(Reply::Error(*failure), ids), kJson);
        }
        const auto pixels = std::get<std::shared_ptr<const Image>>(answer);
        if (bytes) return SendImageBytes(response, pixels, ids);
        return SendImageArray(response, pixels, ids);
    }

    try {
        const Reply reply = handler(device, params);
        const Transaction ids{params.ClientTransactionId(), transactions.Next()};
        response.set_content(ReplyJson(reply, ids), kJson);
    } catch (const BadRequest& bad) {
        Malformed(response, kBadRequest, member + ": " + bad.message);
    }
}

}  // namespace tarnscsi::alpaca
