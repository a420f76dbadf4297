// One simulated camera for all of a user's programs: while one program is
// connected, another is refused and told who holds the camera, without a
// command of its own reaching it; the holder's death frees the camera at
// once; and the cooler carries on between programs. The programs are the
// tool, run as a user runs it, and this test through the public API; all
// share a state folder of their own (TARNSCSI_SIM_STATE), never the user's.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include <tarnscsi/camera.h>
#include <tarnscsi/manager.h>

#include "support/tool_process.h"

extern char** environ;

using namespace tarnscsi::tool_test;
namespace fs = std::filesystem;

namespace {

constexpr int kFailure = 1;

// The state folder of this test process and the tools it starts. The
// simulator reads it once, as it loads, so it is one folder per process
// (ctest runs every test in a process of its own).
const fs::path& StateFolder() {
    static TempFolder* const folder = new TempFolder;
    return folder->Path();
}

// A tool left running in the background; killed when still running at the end.
class Background {
public:
    explicit Background(const std::vector<std::string>& args) {
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(TARNSCSI_TOOL_PATH));
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        if (posix_spawn(&pid, TARNSCSI_TOOL_PATH, nullptr, nullptr, argv.data(), environ) != 0) pid = -1;
    }
    ~Background() { Kill(); }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    pid_t Pid() const { return pid; }
    void Kill() {
        if (pid <= 0) return;
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid = -1;
    }

private:
    pid_t pid = -1;
};

std::string FileText(const fs::path& file) {
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    return text;
}

class SharingTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TARNSCSI_SIM_STATE", StateFolder().c_str(), 1);
        ::setenv("LD_LIBRARY_PATH", SIM_DIR, 1);
    }

    ProcessResult Tool(std::vector<std::string> args) {
        args.insert(args.begin(), TARNSCSI_TOOL_PATH);
        ProcessOptions options;
        options.workDir = dir.Path();
        options.libraryPath = SIM_DIR;
        // A tool that hangs is killed, so that the test ends and says so.
        options.whileRunning = [](pid_t pid, const fs::path&) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            siginfo_t info{};
            while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                   info.si_pid == 0) {
                if (std::chrono::steady_clock::now() >= deadline) {
                    ::kill(pid, SIGKILL);
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        };
        return RunProcess(args, options);
    }

    // Waits (bounded) until the tool started as `holder` holds the camera at
    // the default address: its lock file names it.
    static bool WaitUntilHeldBy(const Background& holder) {
        const fs::path lock = StateFolder() / "target-0-2.lock";
        const std::string expected = "tarnscsi, PID " + std::to_string(holder.Pid());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            if (FileText(lock) == expected) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    TempFolder dir;
};

TEST_F(SharingTest, ASecondProgramIsRefusedNamingTheHolderUntilTheHolderIsKilled) {
    // A real-time minute-long exposure keeps the first tool connected.
    ::setenv("TARNSCSI_SIM", "time-scale=1,image=pattern", 1);
    Background holder({"expose", "60", "-o", (dir.Path() / "held.fits").string(), "-q"});
    ASSERT_GT(holder.Pid(), 0);
    ASSERT_TRUE(WaitUntilHeldBy(holder));

    // A second tool: refused, and its trace shows that nothing it sent went
    // to the camera's address beyond asking the bus what device type is there.
    ProcessResult second = Tool({"--trace", "status"});
    EXPECT_EQ(second.exitCode, kFailure) << second.out << second.err;
    EXPECT_NE(second.err.find("Camera in use"), std::string::npos) << second.err;
    EXPECT_EQ(second.err.find("INQUIRY"), std::string::npos) << second.err;
    // The scan names the holder where it would have asked the camera.
    const ProcessResult scan = Tool({"scan"});
    EXPECT_NE(scan.out.find("(in use by tarnscsi, PID " + std::to_string(holder.Pid()) + ": not asked)"),
              std::string::npos)
        << scan.out;

    // This process through the C++ API: the holder is named.
    ASSERT_EQ(tarnscsi::UseManager({tarnscsi::ManagerKind::kPath, SIMULATOR_PATH}), "");
    tarnscsi::ConnectError error = tarnscsi::ConnectError::kNone;
    std::string detail;
    EXPECT_FALSE(tarnscsi::Camera::Open(error, detail));
    EXPECT_EQ(error, tarnscsi::ConnectError::kCameraInUse);
    EXPECT_EQ(detail, "camera at adapter 0, target 2 is in use by tarnscsi, PID " + std::to_string(holder.Pid()));

    // Killed, the holder lets go at once: no stale lock stays behind.
    holder.Kill();
    second = Tool({"status"});
    EXPECT_EQ(second.exitCode, 0) << second.err;
    auto camera = tarnscsi::Camera::Open(error, detail);
    EXPECT_TRUE(camera) << detail;
}

TEST_F(SharingTest, TheCoolerCarriesOnInTheNextProgram) {
    // 100 simulated seconds to the real one: the next tool, a few
    // milliseconds later, finds the sensor on its way down.
    ::setenv("TARNSCSI_SIM", "time-scale=0.01", 1);
    ProcessResult run = Tool({"cool", "-10", "-q"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    run = Tool({"status", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto first = nlohmann::json::parse(run.out);
    EXPECT_LT(first.at("temperature_c").get<double>(), 20.0) << run.out;
    EXPECT_GE(first.at("temperature_c").get<double>(), -10.0) << run.out;
    EXPECT_GT(first.at("cooler_drive_percent").get<double>(), 0.0) << run.out;

    run = Tool({"status", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto later = nlohmann::json::parse(run.out);
    EXPECT_LE(later.at("temperature_c").get<double>(), first.at("temperature_c").get<double>()) << run.out;

    // An instant clock puts the sensor at the setpoint the last program left.
    ::setenv("TARNSCSI_SIM", "time-scale=0", 1);
    run = Tool({"status", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(nlohmann::json::parse(run.out).at("temperature_c"), -10.0) << run.out;
}

TEST_F(SharingTest, EveryProgramsDarkFrameHasFreshNoiseUnlessASeedIsGiven) {
    ::setenv("TARNSCSI_SIM", "time-scale=0,image=dark", 1);
    for (const char* name : {"a.fits", "b.fits"}) {
        ASSERT_EQ(Tool({"expose", "1", "-o", name, "-q", "--width", "64", "--height", "64"}).exitCode, 0);
    }
    ::setenv("TARNSCSI_SIM", "time-scale=0,image=dark,seed=7", 1);
    for (const char* name : {"c.fits", "d.fits"}) {
        ASSERT_EQ(Tool({"expose", "1", "-o", name, "-q", "--width", "64", "--height", "64"}).exitCode, 0);
    }
    auto bytes = [&](const char* name) {
        std::ifstream in(dir.Path() / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    // The headers differ in their dates; the pixels are the last FITS block
    // of 2880 bytes and the two before it (8192 bytes, then zeros).
    constexpr std::size_t kDataBlocks = 3 * 2880;
    auto pixels = [&](const char* name) {
        const std::string file = bytes(name);
        return file.size() < kDataBlocks ? std::string() : file.substr(file.size() - kDataBlocks);
    };
    ASSERT_FALSE(pixels("a.fits").empty());
    EXPECT_NE(pixels("a.fits"), pixels("b.fits"));
    EXPECT_EQ(pixels("c.fits"), pixels("d.fits"));
}

// What anyone who may write the shared folder can leave where the
// simulator's files belong. A named pipe as the cooler's state would stop
// the connecting program in its open, holding the camera, for good; a
// state no camera could have left is not taken over (and not saved again);
// a lock file that is a directory says so, whole, with what to do.
TEST_F(SharingTest, SharedFilesThatAreNotPlainOrHoldNonsenseAreNotUsed) {
    const fs::path state = StateFolder() / "camera-0-2-0.state";
    const fs::path lock = StateFolder() / "target-0-2.lock";
    fs::remove(state);
    ::setenv("TARNSCSI_SIM", "time-scale=0", 1);
    ASSERT_EQ(::mkfifo(state.c_str(), 0600), 0);
    ProcessResult run = Tool({"status"});
    EXPECT_EQ(run.exitCode, 0) << "signal " << run.signal << "\n" << run.err;
    EXPECT_NE(run.err.find("camera-0-2-0.state is a named pipe, not a file"), std::string::npos) << run.err;
    EXPECT_EQ(FileText(lock), "") << "the camera was not let go";
    fs::remove(state);

    // Real time, so that the state would be carried on rather than replaced.
    ::setenv("TARNSCSI_SIM", "time-scale=1", 1);
    const auto now =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    { std::ofstream(state) << "1 -100 1e308 " << now << "\n"; }
    run = Tool({"status", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(nlohmann::json::parse(run.out).at("temperature_c"), 20.0) << run.out;
    std::istringstream saved(FileText(state));
    int on = -1, setpoint = 0;
    double temperature = 0;
    ASSERT_TRUE(saved >> on >> setpoint >> temperature) << FileText(state);
    EXPECT_EQ(temperature, 200.0) << "the nonsense was saved again";
    fs::remove(state);

    fs::remove(lock);
    fs::create_directory(lock);
    run = Tool({"status"});
    EXPECT_EQ(run.exitCode, kFailure);
    EXPECT_NE(run.err.find("in use by nobody; its lock target-0-2.lock is not a file: remove it"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find(lock.string() + " is a directory, not a file; remove it"), std::string::npos) << run.err;
    fs::remove(lock);
    EXPECT_EQ(Tool({"status"}).exitCode, 0);
}

}  // namespace
