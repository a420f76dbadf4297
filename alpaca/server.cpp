#include "server.h"

#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "camera_members.h"
#include "image_encoding.h"
#include "request_parameters.h"
#include "setup_page.h"

namespace tarnscsi::alpaca {
namespace {

constexpr char kJson[] = "application/json";
constexpr char kText[] = "text/plain";
constexpr char kHtml[] = "text/html; charset=utf-8";
constexpr char kDeviceType[] = "camera";
constexpr char kDeviceNumber[] = "0";
constexpr int kSupportedApiVersion = 1;
constexpr int kBadRequest = 400;
constexpr int kNotFound = 404;
constexpr int kMethodNotAllowed = 405;
constexpr int kInternalError = 500;

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

AlpacaServer::AlpacaServer(ServerOptions given) : options(std::move(given)), http(std::make_unique<httplib::Server>()) {
    Route();
}

AlpacaServer::~AlpacaServer() { Stop(); }

std::string AlpacaServer::Start() {
    if (options.port == 0) {
        port = http->bind_to_any_port(options.listen);
    } else {
        port = http->bind_to_port(options.listen, options.port) ? options.port : -1;
    }
    if (port <= 0) {
        return "cannot listen on " + options.listen + ":" + std::to_string(options.port) +
               " (is another server there? choose another with --port)";
    }
    if (options.discovery) {
        if (std::string problem = discovery.Start(options.listen, options.discoveryPort, port); !problem.empty()) {
            http->stop();
            return problem;
        }
    }
    listener = std::thread([this] { http->listen_after_bind(); });
    // The socket listens from the bind on: clients may connect at once.
    return {};
}

void AlpacaServer::Wait() {
    if (listener.joinable()) listener.join();
}

void AlpacaServer::Stop() {
    http->stop();
    if (listener.joinable()) listener.join();
    discovery.Stop();
}

void AlpacaServer::Route() {
    const std::string member = R"(/api/v1/([^/]+)/([^/]+)/([^/]+))";
    http->Get(member, [this](const httplib::Request& q, httplib::Response& r) { DeviceRequest(q, r, false); });
    http->Put(member, [this](const httplib::Request& q, httplib::Response& r) { DeviceRequest(q, r, true); });
    http->Get("/management/apiversions",
              [this](const httplib::Request& q, httplib::Response& r) { Management(q, r, "apiversions"); });
    http->Get(R"(/management/v1/(description|configureddevices))",
              [this](const httplib::Request& q, httplib::Response& r) { Management(q, r, q.matches[1]); });
    const auto setup = [this](const httplib::Request&, httplib::Response& r) {
        r.set_content(SetupPage(device.Status(), options, port, discovery.Port()), kHtml);
    };
    http->Get("/setup", setup);
    http->Get("/setup/v1/camera/0/setup", setup);
    // A fault of ours still gets an answer that says so.
    http->set_exception_handler([](const httplib::Request&, httplib::Response& r, std::exception_ptr fault) {
        std::string what = "unknown";
        try {
            std::rethrow_exception(fault);
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
        }
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

void AlpacaServer::DeviceRequest(const httplib::Request& request, httplib::Response& response, bool put) {
    const std::string type = request.matches[1];
    const std::string number = request.matches[2];
    const std::string member = request.matches[3];
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
        put ? RequestParameters::FromForm(request.body) : RequestParameters::FromQuery(request.params);
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
