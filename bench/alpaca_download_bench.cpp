// The Alpaca server's full-frame download over loopback: from ImageReady to
// the whole image in the client, as ImageBytes and as JSON, beside the floor:
// a response of the ImageBytes answer's size over the same HTTP library with
// no camera work. Median of many. Targets: ImageBytes within 1.2 x the
// floor, JSON within 3 x ImageBytes. Prints; never fails on time.
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "image_encoding.h"
#include "loopback_server.h"
#include "server.h"
#include "sim/sim_control.h"

namespace {

constexpr int kRuns = 31;
constexpr int kMaxPolls = 1000;
using tarnscsi::bench::kLoopback;
constexpr char kForm[] = "application/x-www-form-urlencoded";
constexpr std::size_t kImageBytesLength = 44 + 768 * 512 * 2;

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double Milliseconds(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool Expose(httplib::Client& client) {
    auto started = client.Put("/api/v1/camera/0/startexposure", "Duration=0&Light=true", kForm);
    if (!started || started->body.find("\"ErrorNumber\":0") == std::string::npos) return false;
    for (int poll = 0; poll < kMaxPolls; ++poll) {
        auto ready = client.Get("/api/v1/camera/0/imageready");
        if (ready && ready->body.find("\"Value\":true") != std::string::npos) return true;
    }
    return false;
}

// Milliseconds from ImageReady to the whole image in the client.
double TimedDownload(httplib::Client& client, const char* accept, std::size_t& bytes) {
    if (!Expose(client)) return -1;
    httplib::Headers headers;
    if (accept) headers.emplace("Accept", accept);
    const auto start = Clock::now();
    auto answer = client.Get("/api/v1/camera/0/imagearray", headers);
    const double ms = Milliseconds(start);
    bytes = answer ? answer->body.size() : 0;
    return answer && answer->status == 200 ? ms : -1;
}

}  // namespace

int main() {
    const auto server = tarnscsi::bench::StartLoopbackServer("alpaca_download_bench");
    if (!server) return 1;
    httplib::Client client(kLoopback, server->Port());
    client.Put("/api/v1/camera/0/connected", "Connected=True", kForm);

    // The floor: the same number of bytes from a bare handler.
    httplib::Server bare;
    const std::string payload(kImageBytesLength, '\x5a');
    bare.Get("/image", [&payload](const httplib::Request&, httplib::Response& response) {
        response.set_content(payload, "application/imagebytes");
    });
    const int barePort = bare.bind_to_any_port(kLoopback);
    std::thread bareThread([&bare] { bare.listen_after_bind(); });
    httplib::Client bareClient(kLoopback, barePort);

    std::vector<double> floor;
    std::vector<double> imageBytes;
    std::vector<double> json;
    std::size_t bytesLength = 0;
    std::size_t jsonLength = 0;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = Clock::now();
        auto answer = bareClient.Get("/image");
        floor.push_back(answer ? Milliseconds(start) : -1);
        imageBytes.push_back(TimedDownload(client, "application/imagebytes", bytesLength));
        json.push_back(TimedDownload(client, nullptr, jsonLength));
    }
    bare.stop();
    bareThread.join();
    server->Stop();

    if (*std::min_element(imageBytes.begin(), imageBytes.end()) < 0 ||
        *std::min_element(json.begin(), json.end()) < 0) {
        std::fprintf(stderr, "alpaca_download_bench: a download failed\n");
        return 1;
    }
    // Encoding alone, without HTTP.
    tarnscsi::alpaca::Image synthetic;
    synthetic.width = 768;
    synthetic.height = 512;
    synthetic.columns.resize(768 * 512);
    for (std::size_t i = 0; i < synthetic.columns.size(); ++i) {
        synthetic.columns[i] = static_cast<std::uint16_t>(i * 40503 + 12345);
    }
    std::vector<double> encode;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = Clock::now();
        const std::string text = tarnscsi::alpaca::ImageArrayJson(synthetic, {});
        encode.push_back(text.empty() ? -1 : Milliseconds(start));
    }
    const double f = Median(floor);
    const double b = Median(imageBytes);
    const double j = Median(json);
    std::printf("Full frame 768 x 512 over 127.0.0.1, median of %d, from ImageReady to the whole image:\n", kRuns);
    std::printf("  floor (same HTTP library, %zu bytes, no camera work): %8.2f ms\n", kImageBytesLength, f);
    std::printf("  ImageBytes (%zu bytes):                               %8.2f ms  %.2f x floor (target <= 1.2)\n",
                bytesLength, b, b / f);
    std::printf("  JSON ImageArray (%zu bytes):                         %8.2f ms  %.2f x ImageBytes (target <= 3)\n",
                jsonLength, j, j / b);
    std::printf("  of which JSON encoding alone:                        %8.2f ms\n", Median(encode));
    return 0;
}
