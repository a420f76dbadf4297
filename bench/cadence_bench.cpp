// Cadence: the time each front-end loses per frame beyond the exposure and
// the readout, taking 20 full frames of 0.1 s in a row on the simulated
// camera in real time. The floor is the C++ API itself, asking the camera
// whether it is ready every millisecond; each front-end's dead time is its
// time per frame less the floor's. The tool runs `expose -n 20` (FITS files
// included); the INDI driver serves a client's sequence over its pipes, as
// indiserver runs it (the FITS image over the INDI protocol included); the
// Alpaca server serves a client that
// polls ImageReady every 100 ms and fetches ImageBytes. Aim: at most 50 ms
// per frame each. Prints figures and ratios; never fails on time.
#include <httplib.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <tarnscsi/camera.h>
#include <tarnscsi/frame.h>

#include "loopback_server.h"
#include "server.h"
#include "sim/sim_control.h"
#ifdef TARNSCSI_CADENCE_INDI
#include "indi_pipe.h"
#endif

extern char** environ;

namespace {

constexpr int kFrames = 20;
constexpr double kExposureSeconds = 0.1;
using tarnscsi::bench::kLoopback;
constexpr char kForm[] = "application/x-www-form-urlencoded";
constexpr auto kClientPoll = std::chrono::milliseconds(100);
constexpr int kMaxPolls = 10000;

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The C++ API alone: Expose, Ready every millisecond, Download.
double FloorSeconds() {
    tarnscsi::ConnectError error = tarnscsi::ConnectError::kNone;
    auto camera = tarnscsi::Camera::Open(error);
    if (!camera) return -1;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(tarnscsi::kSensorWidth) * tarnscsi::kSensorHeight *
                                     tarnscsi::kBytesPerPixel);
    const auto window = tarnscsi::WindowFor(tarnscsi::Frame{}, static_cast<std::int32_t>(kExposureSeconds * 1000));
    const auto start = Clock::now();
    for (int frame = 0; frame < kFrames; ++frame) {
        if (!camera->Expose(window)) return -1;
        int polls = 0;
        while (!camera->Ready() && ++polls < kMaxPolls) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (!camera->Download(buffer)) return -1;
    }
    return SecondsSince(start);
}

double AlpacaSeconds() {
    tarnscsi::alpaca::AlpacaServer server(tarnscsi::bench::LoopbackServerOptions());
    if (!server.Start().empty()) return -1;
    httplib::Client client(kLoopback, server.Port());
    client.Put("/api/v1/camera/0/connected", "Connected=True", kForm);
    httplib::Headers bytes{{"Accept", "application/imagebytes"}};
    const auto start = Clock::now();
    for (int frame = 0; frame < kFrames; ++frame) {
        auto started = client.Put("/api/v1/camera/0/startexposure", "Duration=0.1&Light=true", kForm);
        if (!started || started->body.find("\"ErrorNumber\":0") == std::string::npos) return -1;
        bool ready = false;
        for (int poll = 0; poll < kMaxPolls && !ready; ++poll) {
            std::this_thread::sleep_for(kClientPoll);
            auto answer = client.Get("/api/v1/camera/0/imageready");
            ready = answer && answer->body.find("\"Value\":true") != std::string::npos;
        }
        auto image = client.Get("/api/v1/camera/0/imagearray", bytes);
        if (!ready || !image || image->status != 200) return -1;
    }
    const double seconds = SecondsSince(start);
    client.Put("/api/v1/camera/0/connected", "Connected=False", kForm);
    server.Stop();
    return seconds;
}

double ToolSeconds(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    const std::string pattern = (folder / "frame%02d.fits").string();
    std::vector<std::string> args = {TARNSCSI_TOOL_PATH, "expose", "0.1", "-n", std::to_string(kFrames), "-o", pattern,
                                     "--overwrite",      "-q"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    const double seconds = SecondsSince(start);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

#ifdef TARNSCSI_CADENCE_INDI
double IndiSeconds() {
    tarnscsi::bench::IndiDriverPipe driver;
    std::string error;
    if (!driver.Start(TARNSCSI_INDI_DRIVER, error) || !driver.ConnectDevice(TARNSCSI_INDI_DEVICE, error)) {
        std::fprintf(stderr, "cadence_bench: INDI: %s\n", error.c_str());
        return -1;
    }
    const auto start = Clock::now();
    for (int frame = 0; frame < kFrames; ++frame) {
        if (!driver.Expose(kExposureSeconds, error)) {
            std::fprintf(stderr, "cadence_bench: INDI: %s\n", error.c_str());
            return -1;
        }
    }
    return SecondsSince(start);
}
#endif

void Print(const char* name, double seconds, double floor) {
    if (seconds < 0) {
        std::printf("  %-32s failed\n", name);
        return;
    }
    const double perFrame = seconds / kFrames * 1000;
    const double dead = (seconds - floor) / kFrames * 1000;
    std::printf("  %-32s %8.1f ms per frame, dead %6.1f ms per frame (%.2f x floor; aim <= 50 ms)\n", name, perFrame,
                dead, seconds / floor);
}

}  // namespace

int main(int argc, char** argv) {
    const std::filesystem::path folder =
        argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path() / "tarnscsi_cadence_bench";
    SimReset();
    SimSetTimeScale(1.0);
    SimSetImageKind(SIM_IMAGE_SKY);
    const double floor = FloorSeconds();
    if (floor < 0) {
        std::fprintf(stderr, "cadence_bench: the C++ API could not take its frames\n");
        return 1;
    }
    const double alpaca = AlpacaSeconds();
    // The tool runs the simulator in its own process, in real time.
    setenv("LD_LIBRARY_PATH", SIM_DIR, 1);
    setenv("TARNSCSI_SIM", "time-scale=1", 1);
    const double tool = ToolSeconds(folder);
#ifdef TARNSCSI_CADENCE_INDI
    const double indi = IndiSeconds();
#endif
    std::filesystem::remove_all(folder);

    std::printf("%d full frames (768 x 512) of %.1f s in a row, simulated camera in real time:\n", kFrames,
                kExposureSeconds);
    std::printf("  %-32s %8.1f ms per frame (exposure and readout; the floor)\n", "C++ API, Ready every 1 ms",
                floor / kFrames * 1000);
    Print("tool: expose -n 20 (FITS files)", tool, floor);
#ifdef TARNSCSI_CADENCE_INDI
    Print("INDI: a client's sequence", indi, floor);
#else
    std::printf("  %-32s not built (no INDI driver)\n", "INDI");
#endif
    Print("Alpaca: polling every 100 ms", alpaca, floor);
    return 0;
}
