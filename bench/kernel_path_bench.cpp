// The camera through the real kernel against the same camera without it.
//
// Run on the host (as scripts/bench.sh does), it boots the QEMU guest of the
// kernel checks (tests/kernel/run-guest.sh) with tests/kernel/guest/bench.sh,
// which serves the simulator's camera model behind the kernel's SCSI target
// stack and runs this program twice inside the guest ("measure"): once
// through the SCSI generic manager (module -> /dev/sgN -> midlayer ->
// tcm_loop -> target_core_user -> handler -> camera model), once through the
// simulated manager directly (module -> camera model). It prints both, the
// ratio of the full-frame downloads, and what one command costs on the
// kernel path. Both runs share the guest and its software-emulated CPU, so
// the ratio means more than the absolute figures, which emulation inflates.
//
//   kernel_path_bench                      boots the guest, prints the figures
//   kernel_path_bench measure LABEL        (in the guest) one manager's figures
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <tarnscsi/camera.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFrames = 5;
constexpr int kCommands = 200;

double Microseconds(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int Measure(const std::string& label) {
    if (const std::string problem = tarnscsi::UseManagerFromEnvironment(); !problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return 1;
    }
    tarnscsi::ConnectError error = tarnscsi::ConnectError::kNone;
    auto camera = tarnscsi::Camera::Open(error);
    if (!camera) {
        std::fprintf(stderr, "%s: %s\n", label.c_str(), tarnscsi::ConnectErrorText(error));
        return 1;
    }
    const tarnscsi::ExposureSettings full{0, 0, 0, tarnscsi::kSensorWidth, tarnscsi::kSensorHeight, 0, 0};
    std::vector<std::uint8_t> image(tarnscsi::ImageBytes(full));
    std::vector<double> downloads;
    for (int i = 0; i < kFrames; ++i) {
        if (!camera->Expose(full)) return 1;
        while (!camera->Ready()) {}
        const auto start = Clock::now();
        if (!camera->Download(image)) return 1;
        downloads.push_back(Microseconds(Clock::now() - start));
    }
    std::vector<double> commands;
    for (int i = 0; i < kCommands; ++i) {
        const auto start = Clock::now();
        if (!camera->Ready()) return 1;
        commands.push_back(Microseconds(Clock::now() - start));
    }
    // One line the host reads: label, median full-frame download, median TEST UNIT READY.
    std::printf("BENCH %s %.0f %.1f\n", label.c_str(), Median(downloads), Median(commands));
    return 0;
}

int Guest() {
    const std::string out = std::string(TARNSCSI_BUILD_DIR) + "/bench/kernel-path-guest";
    const std::string guest = std::string("bash '") + TARNSCSI_SOURCE_DIR + "/tests/kernel/run-guest.sh' --build '" +
                              TARNSCSI_BUILD_DIR + "' --out '" + out + "' --any-verdict --script '" +
                              TARNSCSI_SOURCE_DIR + "/tests/kernel/guest/bench.sh' --time-limit 600";
    if (std::system(guest.c_str()) != 0) {
        std::fprintf(stderr, "the guest did not run to its end: %s/console.log\n", out.c_str());
        return 1;
    }
    std::ifstream results(out + "/results.log");
    std::map<std::string, std::pair<double, double>> figures;
    for (std::string line; std::getline(results, line);) {
        std::istringstream fields(line);
        std::string tag, label;
        double download = 0, command = 0;
        if (fields >> tag >> label >> download >> command && tag == "BENCH") figures[label] = {download, command};
    }
    if (!figures.contains("kernel") || !figures.contains("simulator")) {
        std::fprintf(stderr, "the guest gave no figures: %s/console.log\n", out.c_str());
        return 1;
    }
    const auto [kernelDownload, kernelCommand] = figures["kernel"];
    const auto [simDownload, simCommand] = figures["simulator"];
    std::printf("Full-frame download, 768 x 512 (GET WINDOW + 384 READs), median of %d, in the guest:\n", kFrames);
    std::printf("  through the kernel (SG manager, tcm_loop, target_core_user): %10.0f us\n", kernelDownload);
    std::printf("  through the simulated manager directly:                      %10.0f us\n", simDownload);
    std::printf("  ratio kernel / simulator:                                    %10.1f\n",
                kernelDownload / simDownload);
    std::printf("One command (TEST UNIT READY), median of %d: kernel path %.1f us, simulator %.1f us\n", kCommands,
                kernelCommand, simCommand);
    std::printf("  per READ of the download, kernel path: %.1f us\n", kernelDownload / 385.0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "measure") return Measure(argv[2]);
    if (argc == 1) return Guest();
    std::fprintf(stderr, "usage: kernel_path_bench [measure LABEL]\n");
    return 2;
}
