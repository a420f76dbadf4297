// The Alpaca server through whole exposure cycles as ASCOM's clients meet
// them: full frames (0.2 s, then the camera's 1 s readout, then the
// download) taken by one client, while
// - a monitor reads every state and cooling member as fast as it can,
// - a poller reads ImageReady every 10 ms (as NINA does), and tells the
//   imaging client when the image is there,
// - a settings client writes SetCCDTemperature every 50 ms (the cooler is
//   off: nothing reaches the bus, but the write goes through the device);
// and the same cycles with the imaging client alone, polling ImageReady
// itself, the two taking turns frame by frame. Once with the simulated
// camera at its own speed, once with every command taking 2 ms as on a
// slow adapter (a full frame's download about 0.8 s). Per member: median
// and worst over every cycle; the time from the end of the camera's
// readout to ImageReady, with and without the others.
// ConformU's classes: a state or cooling read under 0.1 s, a write under
// 1 s. Prints; never fails on time.
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "loopback_server.h"
#include "server.h"
#include "sim/sim_control.h"

namespace {

using tarnscsi::bench::kLoopback;
using Clock = std::chrono::steady_clock;

constexpr char kForm[] = "application/x-www-form-urlencoded";
constexpr char kApi[] = "/api/v1/camera/0/";
constexpr int kFrames = 8;
constexpr double kExposureSeconds = 0.2;
// The simulated camera reads a full frame out in 1 s of its clock.
constexpr double kReadoutSeconds = 1.0;
constexpr auto kPollerInterval = std::chrono::milliseconds(10);
constexpr auto kSettingsInterval = std::chrono::milliseconds(50);
// Far longer than any cycle here: a cycle that does not end is a failure.
constexpr auto kCycleLimit = std::chrono::seconds(30);
constexpr const char* kMonitored[] = {"connected",         "camerastate",        "imageready",  "percentcompleted",
                                      "devicestate",       "ccdtemperature",     "coolerpower", "cooleron",
                                      "setccdtemperature", "heatsinktemperature"};
constexpr int kDownloadState = 4;

double Milliseconds(Clock::duration span) { return std::chrono::duration<double, std::milli>(span).count(); }

// Times of each member's answers, in milliseconds; -1 marks a failed call.
using Times = std::map<std::string, std::vector<double>>;

void Merge(Times& into, const Times& from) {
    for (const auto& [member, times] : from) into[member].insert(into[member].end(), times.begin(), times.end());
}

// An answer the server gave at all: HTTP 200 with an Alpaca JSON body (a
// member the camera lacks answers NotImplemented, which counts).
bool Answered(const httplib::Result& answer) {
    return answer && answer->status == 200 && answer->body.find("\"ErrorNumber\":") != std::string::npos;
}

bool Succeeded(const httplib::Result& answer) {
    return Answered(answer) && answer->body.find("\"ErrorNumber\":0") != std::string::npos;
}

httplib::Result TimedGet(httplib::Client& client, const std::string& member, Times& times) {
    const auto start = Clock::now();
    auto answer = client.Get(kApi + member);
    times[member].push_back(Answered(answer) ? Milliseconds(Clock::now() - start) : -1);
    return answer;
}

httplib::Result TimedPut(httplib::Client& client, const std::string& member, const std::string& form, Times& times) {
    const auto start = Clock::now();
    auto answer = client.Put(kApi + member, form, kForm);
    times[member + " (PUT)"].push_back(Succeeded(answer) ? Milliseconds(Clock::now() - start) : -1);
    return answer;
}

std::unique_ptr<httplib::Client> KeptAlive(int port) {
    auto client = std::make_unique<httplib::Client>(kLoopback, port);
    client->set_keep_alive(true);
    // A PUT's header and body leave in two writes: without this the body
    // waits for the server's delayed acknowledgement (40 ms), which is the
    // client's cost, not the server's.
    client->set_tcp_nodelay(true);
    client->set_read_timeout(std::chrono::seconds(30));
    return client;
}

// What one run of kFrames cycles measured.
struct Run {
    Times times;
    std::vector<double> readoutToReady;  // ms from the readout's end to ImageReady seen
    std::vector<double> downloadSeen;    // ms from CameraState Download first seen to ImageReady seen
    bool ok = true;
};

// `frames` cycles, with the other three clients or without.
Run Cycles(int port, bool others, int frames) {
    Run run;
    std::atomic<bool> done{false};
    // When the imaging client's exposure was accepted, and when a poll that
    // began after that found the image ready.
    std::atomic<Clock::rep> acceptedAt{0};
    std::atomic<Clock::rep> readyAt{0};
    std::mutex merging;

    const auto poll = [&](httplib::Client& client, Times& times) {
        const auto start = Clock::now();
        auto answer = TimedGet(client, "imageready", times);
        if (!Answered(answer)) return false;
        const Clock::rep accepted = acceptedAt.load();
        if (accepted != 0 && start.time_since_epoch().count() > accepted &&
            answer->body.find("\"Value\":true") != std::string::npos) {
            Clock::rep none = 0;
            readyAt.compare_exchange_strong(none, Clock::now().time_since_epoch().count());
        }
        return true;
    };

    // The monitor also notes when it first sees Download in a cycle.
    std::atomic<Clock::rep> downloadAt{0};
    std::vector<std::thread> clients;
    if (others) {
        clients.emplace_back([&] {
            Times times;
            auto client = KeptAlive(port);
            for (std::size_t i = 0; !done; ++i) {
                const char* member = kMonitored[i % std::size(kMonitored)];
                auto answer = TimedGet(*client, member, times);
                if (answer && std::string(member) == "camerastate" &&
                    answer->body.find("\"Value\":" + std::to_string(kDownloadState)) != std::string::npos) {
                    Clock::rep none = 0;
                    downloadAt.compare_exchange_strong(none, Clock::now().time_since_epoch().count());
                }
            }
            std::lock_guard lock(merging);
            Merge(run.times, times);
        });
        clients.emplace_back([&] {
            Times times;
            auto client = KeptAlive(port);
            while (!done) {
                poll(*client, times);
                std::this_thread::sleep_for(kPollerInterval);
            }
            std::lock_guard lock(merging);
            Merge(run.times, times);
        });
        clients.emplace_back([&] {
            Times times;
            auto client = KeptAlive(port);
            while (!done) {
                TimedPut(*client, "setccdtemperature", "SetCCDTemperature=10", times);
                std::this_thread::sleep_for(kSettingsInterval);
            }
            std::lock_guard lock(merging);
            Merge(run.times, times);
        });
    }

    Times times;
    auto client = KeptAlive(port);
    const std::string start = "Duration=" + std::to_string(kExposureSeconds) + "&Light=true";
    for (int frame = 0; frame < frames && run.ok; ++frame) {
        readyAt = 0;
        downloadAt = 0;
        acceptedAt = 0;
        if (!Succeeded(TimedPut(*client, "startexposure", start, times))) {
            run.ok = false;
            break;
        }
        const auto accepted = Clock::now();
        acceptedAt = accepted.time_since_epoch().count();
        while (readyAt == 0 && Clock::now() - accepted < kCycleLimit) {
            if (others) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            } else {
                if (!poll(*client, times)) break;
                if (readyAt == 0) std::this_thread::sleep_for(kPollerInterval);
            }
        }
        if (readyAt == 0) {
            run.ok = false;
            break;
        }
        const Clock::time_point ready{Clock::duration(readyAt.load())};
        const auto readoutEnd = accepted + std::chrono::duration_cast<Clock::duration>(
                                               std::chrono::duration<double>(kExposureSeconds + kReadoutSeconds));
        run.readoutToReady.push_back(Milliseconds(ready - readoutEnd));
        if (const Clock::rep seen = downloadAt.load(); seen != 0) {
            run.downloadSeen.push_back(Milliseconds(ready - Clock::time_point{Clock::duration(seen)}));
        }
        const auto started = Clock::now();
        auto image = client->Get(std::string(kApi) + "imagearray", {{"Accept", "application/imagebytes"}});
        times["imagearray (ImageBytes)"].push_back(image && image->status == 200 ? Milliseconds(Clock::now() - started)
                                                                                 : -1);
    }
    done = true;
    for (std::thread& other : clients) other.join();
    Merge(run.times, times);
    for (const auto& [member, list] : run.times) {
        if (std::find(list.begin(), list.end(), -1.0) != list.end()) run.ok = false;
    }
    return run;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double Worst(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

void Print(const char* what, const std::vector<double>& values) {
    std::printf("    %-34s %6zu: median %8.3f ms, worst %8.3f ms\n", what, values.size(), Median(values),
                Worst(values));
}

void Add(Run& into, const Run& from) {
    Merge(into.times, from.times);
    into.readoutToReady.insert(into.readoutToReady.end(), from.readoutToReady.begin(), from.readoutToReady.end());
    into.downloadSeen.insert(into.downloadSeen.end(), from.downloadSeen.begin(), from.downloadSeen.end());
    into.ok = into.ok && from.ok;
}

bool Bus(int port, const char* title, const char* setting) {
    SimConfigure(setting);
    SimSetTimeScale(1);
    // A frame alone, then one with the others, and so on: a change in the
    // machine's load meanwhile falls on both alike.
    Run alone;
    Run together;
    for (int frame = 0; frame < kFrames; ++frame) {
        Add(alone, Cycles(port, false, 1));
        Add(together, Cycles(port, true, 1));
    }
    SimSetTimeScale(0);
    SimConfigure("completion=immediate");
    if (!alone.ok || !together.ok) {
        std::fprintf(stderr, "alpaca_cycle_bench: a call failed or a cycle did not end (%s)\n", title);
        return false;
    }
    std::printf("%s, %d full frames each:\n", title, kFrames);
    std::printf("  with the monitor, the 10 ms poller and the settings client:\n");
    for (const auto& [member, times] : together.times) Print(member.c_str(), times);
    std::printf("  readout's end to ImageReady seen (download, polls every 10 ms):\n");
    Print("the imaging client alone", alone.readoutToReady);
    Print("with the other three clients", together.readoutToReady);
    if (!together.downloadSeen.empty()) Print("CameraState Download seen to ready", together.downloadSeen);
    Print("startexposure (PUT), client alone", alone.times.at("startexposure (PUT)"));
    Print("imageready, the client alone", alone.times.at("imageready"));
    return true;
}

}  // namespace

int main() {
    const auto server = tarnscsi::bench::StartLoopbackServer("alpaca_cycle_bench");
    if (!server) return 1;
    const int port = server->Port();
    httplib::Client client(kLoopback, port);
    if (!Succeeded(client.Put(std::string(kApi) + "connected", "Connected=True", kForm))) {
        std::fprintf(stderr, "alpaca_cycle_bench: cannot connect\n");
        return 1;
    }
    const bool ok = Bus(port, "At the camera's speed (1 s readout)", "completion=immediate") &&
                    Bus(port, "Every command 2 ms (a slow adapter)", "completion=pending:2000");
    server->Stop();
    return ok ? 0 : 1;
}
