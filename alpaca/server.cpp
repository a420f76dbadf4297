#include "server.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "camera_members.h"
#include "http_connections.h"
#include "http_status.h"
#include "image_encoding.h"
#include "listen_address.h"
#include "page_routes.h"
#include "request_parameters.h"
#include "setup_page.h"
#include "sockets.h"

namespace tarnscsi::alpaca {
namespace {

constexpr char kDeviceType[] = "camera";
constexpr char kDeviceNumber[] = "0";
// /api/v1/<device type>/<device number>/<member>
constexpr char kMemberPath[] = R"(/api/v1/([^/]+)/([^/]+)/([^/]+))";
constexpr int kSupportedApiVersion = 1;
// How often Start seeks a free port that is free on every address (--port 0
// with a name that stands for several): another program may hold on one
// address the port the first one got.
constexpr int kFreePortTries = 8;
// Every answer forbids other sites to show it in a frame of theirs, where
// a click meant for their page would press the camera page's controls.
const HeaderList kNoFraming = {{"Content-Security-Policy", "frame-ancestors 'none'"}, {"X-Frame-Options", "DENY"}};

bool WantsImageBytes(const HttpRequest& request) {
    return request.Header("Accept").find(image_bytes::kMediaType) != std::string::npos;
}

void Malformed(HttpResponse& response, int status, const std::string& message) {
    response.status = status;
    response.SetContent(message + "\n", kText);
}

// The header, then the image straight from the image's own memory: the
// image is shared, so it lives until the answer has gone out.
void SendImageBytes(HttpResponse& response, const std::shared_ptr<const Image>& image, const Transaction& ids) {
    const char* data = ImageBytesData(*image);
    if (!data) return response.SetContent(ImageBytesAnswer(*image, ids), image_bytes::kMediaType);
    auto header = std::make_shared<const std::string>(ImageBytesHeader(*image, ids));
    const std::size_t dataLength = image->columns.size() * sizeof(std::uint16_t);
    int given = 0;  // parts: the header, then the pixels
    response.SetStream(header->size() + dataLength, image_bytes::kMediaType,
                       [header, image, data, dataLength, given](std::string_view& part) mutable {
                           switch (given++) {
                               case 0: part = *header; return true;
                               case 1: part = std::string_view(data, dataLength); return true;
                               default: return false;
                           }
                       });
}

// The JSON answer, sent part by part as it is made.
void SendImageArray(HttpResponse& response, const std::shared_ptr<const Image>& image, const Transaction& ids) {
    auto writer = std::make_shared<ImageArrayJsonWriter>(image, ids);
    auto part = std::make_shared<std::string>();
    response.SetStream(writer->Length(), kJson, [writer, part](std::string_view& next) {
        if (!writer->Next(*part)) return false;
        next = *part;
        return true;
    });
}

}  // namespace

std::string UniqueIdFor(const ServerOptions& options) {
    if (!options.uniqueId.empty()) return options.uniqueId;
    // FNV-1a of the host name and the device: the same on every start.
    const std::string key = HostName() + "/tarnscsi/camera/0";
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
    Route();
}

AlpacaServer::~AlpacaServer() {
    Stop();
    // The camera's thread outlives the page: it must stop telling it.
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
        if (options.port != 0 || error != kAddressInUse || tries == kFreePortTries) return problem;
    }
    if (options.discovery) {
        if (problem = discovery.Start(options.listen, options.discoveryPort, port); !problem.empty()) {
            http.reset();
            return problem;
        }
    }
    http->Start();
    return {};
}

std::string AlpacaServer::Bind(const std::vector<SocketAddress>& addresses, int wanted, int& error) {
    port = wanted;
    http = std::make_unique<HttpServer>(routes, gate, kNoFraming);
    std::size_t listening = 0;
    std::string skipped;
    for (const SocketAddress& address : addresses) {
        Tcp::endpoint at;
        at.resize(address.length);
        std::memcpy(at.data(), &address.address, address.length);
        at.port(static_cast<unsigned short>(port));
        int bound = 0;
        const boost::system::error_code failure = http->Listen(at, bound);
        if (!failure) {
            port = bound;
            ++listening;
            continue;
        }
        error = failure.value();
        // Where a name stands for several addresses, the message names the
        // one that failed. One the machine lacks (::1 without IPv6) is left
        // to the others, but a busy port on any of them refuses the start.
        const std::string host = address.Text();
        const std::string named = addresses.size() > 1 ? host : options.listen;
        const std::string problem = BindProblem(named, port, error);
        const bool lacking = error == kAddressNotAvailable || error == kFamilyNotSupported;
        if (addresses.size() > 1 && lacking) {
            if (skipped.empty()) skipped = problem;
            continue;
        }
        http.reset();
        return problem;
    }
    if (listening == 0) {
        http.reset();
        return skipped;
    }
    return {};
}

void AlpacaServer::Wait() {
    if (http) http->Wait();
}

void AlpacaServer::Stop() {
    if (http) http->Stop();
    discovery.Stop();
}

void AlpacaServer::Route() {
    // The Host and the announced body are checked (by the gate) before any
    // body is read, and a PUT's body is whole, within kMaxBodyBytes, before
    // it is routed.
    routes.Get(kMemberPath, [this](const HttpRequest& q, HttpResponse& r) { DeviceRequest(q, r, q.matches, nullptr); });
    routes.Put(".*", [this](const HttpRequest& q, HttpResponse& r) { Put(q, r); });
    routes.Get("/management/apiversions",
               [this](const HttpRequest& q, HttpResponse& r) { Management(q, r, "apiversions"); });
    routes.Get(R"(/management/v1/(description|configureddevices))",
               [this](const HttpRequest& q, HttpResponse& r) { Management(q, r, q.matches[1]); });
    const auto setup = [this](const HttpRequest&, HttpResponse& r) {
        r.SetContent(SetupPage(device.Status(), options, port, discovery.Port()), kHtml);
    };
    routes.Get("/setup", setup);
    routes.Get("/setup/v1/camera/0/setup", setup);
    page->Route(routes);
}

void AlpacaServer::Management(const HttpRequest& request, HttpResponse& response, const std::string& what) {
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
    response.SetContent(ReplyJson(Reply::Of(std::move(value)), ids), kJson);
}

void AlpacaServer::Put(const HttpRequest& request, HttpResponse& response) {
    const std::string& form = request.body;
    if (request.path.starts_with(kPageControlPrefix)) return page->Control(request.path, form, response);
    static const std::regex memberPath(kMemberPath);
    std::smatch path;
    if (!std::regex_match(request.path, path, memberPath)) {
        return Malformed(response, kNotFound, "nothing here takes PUT: " + request.path);
    }
    DeviceRequest(request, response, path, &form);
}

void AlpacaServer::DeviceRequest(const HttpRequest& request, HttpResponse& response, const std::smatch& path,
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
            if (bytes) return response.SetContent(ImageBytesError(*failure, ids), image_bytes::kMediaType);
            return response.SetContent(ReplyJson(Reply::Error(*failure), ids), kJson);
        }
        const auto pixels = std::get<std::shared_ptr<const Image>>(answer);
        if (bytes) return SendImageBytes(response, pixels, ids);
        return SendImageArray(response, pixels, ids);
    }

    try {
        const Reply reply = handler(device, params);
        const Transaction ids{params.ClientTransactionId(), transactions.Next()};
        response.SetContent(ReplyJson(reply, ids), kJson);
    } catch (const BadRequest& bad) {
        Malformed(response, kBadRequest, member + ": " + bad.message);
    }
}

}  // namespace tarnscsi::alpaca
