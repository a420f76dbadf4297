// How long the tool takes from the end of the camera's readout (Download has
// returned) to the FITS file complete on disk under its final name, for a
// full frame, and what share of the whole expose command that is. The
// simulated camera answers at once (time scale 0), so the figures are the
// tool's own cost. Two views of "the whole command": the expose command run
// in this process (connect, expose, wait, download, write), and the tool run
// as a separate process as a user would (adding start-up and loading).
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <tarnscsi/frame.h>
#include "expose_command.h"
#include "options.h"
#include "sim/sim_control.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace tool = tarnscsi::tool;

constexpr int kRuns = 25;
constexpr double kMillisecondsPerSecond = 1000.0;
constexpr double kBytesPerMegabyte = 1024.0 * 1024.0;
constexpr double kPercent = 100.0;

double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

class Stopwatch : public tool::ExposeObserver {
public:
    void Downloaded(int) override { downloaded = Clock::now(); }
    void FitsSaved(const tool::SavedFrame&) override { saved = Clock::now(); }
    Clock::time_point downloaded;
    Clock::time_point saved;
};

tool::ExposeRequest FullFrame(const std::filesystem::path& file) {
    tool::ExposeOptions options;
    options.seconds = 0;
    options.output = file.string();
    options.overwrite = true;
    options.quiet = true;
    return tool::CheckExposeOptions(options);
}

// Runs the built tool as its own process; returns the wall time in ms.
double RunToolProcess(const std::filesystem::path& file) {
    std::vector<std::string> args = {TARNSCSI_TOOL_PATH, "expose", "0", "-o", file.string(), "--overwrite", "-q"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        std::perror("posix_spawn");
        std::exit(1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const auto end = Clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "the tool failed (status %d)\n", status);
        std::exit(1);
    }
    return Milliseconds(end - start);
}

}  // namespace

int main(int argc, char** argv) {
    const std::filesystem::path folder =
        argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path() / "tarnscsi_fits_bench";
    std::filesystem::create_directories(folder);
    const std::filesystem::path file = folder / "bench_full_frame.fits";
    SimReset();

    std::vector<double> writeMs, commandMs, processMs;
    for (int run = 0; run < kRuns; ++run) {
        Stopwatch watch;
        const auto start = Clock::now();
        tool::RunExpose(FullFrame(file), watch);
        const auto end = Clock::now();
        writeMs.push_back(Milliseconds(watch.saved - watch.downloaded));
        commandMs.push_back(Milliseconds(end - start));
    }
    setenv("LD_LIBRARY_PATH", SIM_DIR, 1);
    // Instant exposures and readouts: the figures are about the tool, not the camera's clock.
    setenv("TARNSCSI_SIM", "time-scale=0", 1);
    for (int run = 0; run < kRuns; ++run) processMs.push_back(RunToolProcess(file));

    const double bytes = static_cast<double>(std::filesystem::file_size(file));
    const double write = Median(writeMs);
    const double command = Median(commandMs);
    const double process = Median(processMs);
    std::printf("Full frame %d x %d, FITS file %.0f bytes, %d runs each, medians; files in %s\n",
                tarnscsi::kSensorWidth, tarnscsi::kSensorHeight, bytes, kRuns, folder.c_str());
    std::printf("  readout end -> FITS on disk (closed, synced, renamed): %8.3f ms  (%.0f MB/s)\n", write,
                bytes / kBytesPerMegabyte / (write / kMillisecondsPerSecond));
    std::printf("  expose command in process (connect .. file on disk):  %8.3f ms  -> FITS share %5.1f %%\n", command,
                kPercent * write / command);
    std::printf("  tarnscsi expose as a process (start .. exit):         %8.3f ms  -> FITS share %5.1f %%\n", process,
                kPercent * write / process);
    std::filesystem::remove(file);
    return 0;
}
