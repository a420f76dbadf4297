// The Alpaca server's answer time as ASCOM's clients meet it:
// - typical property reads (ccdtemperature, camerastate, imageready,
//   percentcompleted, coolerpower) on one kept-alive connection, as every
//   client holds one, against the same reads on a fresh connection each
//   (median, p90, their ratio; goal: kept-alive no slower, median under
//   1 ms);
// - a full frame as ImageBytes on the kept-alive connection.
// Reads during whole exposure cycles: alpaca_cycle_bench. Prints; never
// fails on time.
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "loopback_server.h"
#include "server.h"
#include "sim/sim_control.h"

namespace {

using tarnscsi::bench::kLoopback;
using Clock = std::chrono::steady_clock;

constexpr char kForm[] = "application/x-www-form-urlencoded";
constexpr char kApi[] = "/api/v1/camera/0/";
constexpr const char* kReads[] = {"ccdtemperature", "camerastate", "imageready", "percentcompleted", "coolerpower"};
constexpr int kRounds = 40;        // of the five reads, per kind of connection
constexpr int kImageRuns = 11;     // full frames as ImageBytes
constexpr int kMaxPolls = 100000;  // ImageReady polls per frame, far more than needed
constexpr double kPercentile90 = 0.9;

double Milliseconds(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Quantile(std::vector<double> values, double q) {
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(q * static_cast<double>(values.size() - 1))];
}

bool Ok(const httplib::Result& answer) {
    return answer && answer->status == 200 && answer->body.find("\"ErrorNumber\":0") != std::string::npos;
}

// One timed GET of each typical read per round; -1 marks a failure.
std::vector<double> TimedReads(int port, bool keptAlive) {
    std::vector<double> times;
    httplib::Client kept(kLoopback, port);
    kept.set_keep_alive(true);
    for (int round = 0; round < kRounds; ++round) {
        for (const char* member : kReads) {
            const auto start = Clock::now();
            if (keptAlive) {
                times.push_back(Ok(kept.Get(std::string(kApi) + member)) ? Milliseconds(start) : -1);
            } else {
                httplib::Client fresh(kLoopback, port);
                times.push_back(Ok(fresh.Get(std::string(kApi) + member)) ? Milliseconds(start) : -1);
            }
        }
    }
    return times;
}

bool WaitForImage(httplib::Client& client) {
    for (int poll = 0; poll < kMaxPolls; ++poll) {
        auto ready = client.Get(std::string(kApi) + "imageready");
        if (!ready) return false;
        if (ready->body.find("\"Value\":true") != std::string::npos) return true;
    }
    return false;
}

}  // namespace

int main() {
    const auto server = tarnscsi::bench::StartLoopbackServer("alpaca_latency_bench");
    if (!server) return 1;
    const int port = server->Port();
    httplib::Client client(kLoopback, port);
    client.set_keep_alive(true);
    client.Put(std::string(kApi) + "connected", "Connected=True", kForm);

    const std::vector<double> kept = TimedReads(port, true);
    const std::vector<double> fresh = TimedReads(port, false);
    if (*std::min_element(kept.begin(), kept.end()) < 0 || *std::min_element(fresh.begin(), fresh.end()) < 0) {
        std::fprintf(stderr, "alpaca_latency_bench: a read failed\n");
        return 1;
    }

    std::vector<double> image;
    httplib::Headers bytes{{"Accept", "application/imagebytes"}};
    for (int run = 0; run < kImageRuns; ++run) {
        if (!Ok(client.Put(std::string(kApi) + "startexposure", "Duration=0&Light=true", kForm)) ||
            !WaitForImage(client)) {
            std::fprintf(stderr, "alpaca_latency_bench: an exposure failed\n");
            return 1;
        }
        const auto start = Clock::now();
        auto answer = client.Get(std::string(kApi) + "imagearray", bytes);
        if (!answer || answer->status != 200) {
            std::fprintf(stderr, "alpaca_latency_bench: an image failed\n");
            return 1;
        }
        image.push_back(Milliseconds(start));
    }

    server->Stop();

    const double keptMedian = Quantile(kept, 0.5);
    const double freshMedian = Quantile(fresh, 0.5);
    std::printf("Typical reads over 127.0.0.1 (%s), %zu each:\n",
                "ccdtemperature, camerastate, imageready, "
                "percentcompleted, coolerpower",
                kept.size());
    std::printf("  kept-alive connection: median %7.3f ms, p90 %7.3f ms\n", keptMedian, Quantile(kept, kPercentile90));
    std::printf("  fresh connection each: median %7.3f ms, p90 %7.3f ms\n", freshMedian,
                Quantile(fresh, kPercentile90));
    std::printf("  kept-alive / fresh (median): %.2f (goal <= 1, kept-alive median under 1 ms)\n",
                keptMedian / freshMedian);
    std::printf("Full frame as ImageBytes, kept-alive, median of %d: %.2f ms\n", kImageRuns, Quantile(image, 0.5));
    return 0;
}
