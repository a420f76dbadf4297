// How the driver's process ends while it holds the camera: indiserver going
// away (the end of the driver's input), SIGTERM and SIGINT. The driver runs
// on its own here, its input a pipe from the test, on a simulated camera
// whose shared state is a folder of the test's own. Whatever ends it, the
// process ends normally or by that signal (never by an abort), the camera's
// claim is given back with the holder's name cleared, and the cooler's
// state is kept for the next program.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kWaitLimit = 30s;
constexpr auto kPollInterval = 20ms;
constexpr char kLockFile[] = "target-0-2.lock";
constexpr char kStateFile[] = "camera-0-2-0.state";

std::string FileText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The driver as indiserver runs it: XML in on stdin, out on stdout.
class DriverProcess {
public:
    explicit DriverProcess(const fs::path& folder) : home(folder) {
        fs::create_directory(home / "state", ignored);
        fs::permissions(home / "state", fs::perms::owner_all, ignored);
        int input[2];
        if (pipe2(input, O_CLOEXEC) != 0) return;
        const std::vector<std::string> own = {"HOME=" + home.string(),
                                              "TARNSCSI_SIM_STATE=" + (home / "state").string(),
                                              "TARNSCSI_SIM=time-scale=0", "LD_LIBRARY_PATH=" SIM_MANAGER_DIR};
        std::vector<std::string> environment = own;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string assignment = *entry;
            const std::string name = assignment.substr(0, assignment.find('=') + 1);
            if (std::none_of(own.begin(), own.end(), [&](const std::string& o) { return o.rfind(name, 0) == 0; })) {
                environment.push_back(assignment);
            }
        }
        std::vector<char*> envp;
        for (auto& entry : environment) envp.push_back(entry.data());
        envp.push_back(nullptr);
        std::string program = TARNSCSI_INDI_DRIVER;
        char* argv[] = {program.data(), nullptr};
        const std::string out = (home / "out.xml").string();
        const std::string err = (home / "err.txt").string();
        pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (outFd < 0 || errFd < 0 || dup2(input[0], STDIN_FILENO) < 0 || dup2(outFd, STDOUT_FILENO) < 0 ||
                dup2(errFd, STDERR_FILENO) < 0) {
                _exit(EXIT_FAILURE);
            }
            execve(argv[0], argv, envp.data());
            _exit(EXIT_FAILURE);
        }
        close(input[0]);
        toDriver = input[1];
    }
    ~DriverProcess() {
        CloseInput();
        if (pid > 0 && !status) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    DriverProcess(const DriverProcess&) = delete;
    DriverProcess& operator=(const DriverProcess&) = delete;

    void Send(const std::string& xml) {
        [[maybe_unused]] const ssize_t written = write(toDriver, xml.data(), xml.size());
    }
    void CloseInput() {
        if (toDriver >= 0) close(toDriver);
        toDriver = -1;
    }
    void Signal(int signal) { kill(pid, signal); }

    // Waits (bounded) until the driver holds the camera: its lock file names it.
    bool WaitUntilHolding() {
        const std::string holder = "indi_tarnscsi_c, PID " + std::to_string(pid);
        return WaitFor([&] { return FileText(home / "state" / kLockFile).rfind(holder, 0) == 0; });
    }
    // The process's end as waitpid reports it; nothing if it did not end in time.
    std::optional<int> WaitForEnd() {
        WaitFor([&] {
            int raw = 0;
            if (waitpid(pid, &raw, WNOHANG) == pid) status = raw;
            return status.has_value();
        });
        return status;
    }
    std::string Output() const { return FileText(home / "out.xml"); }
    std::string Errors() const { return FileText(home / "err.txt"); }

private:
    template <typename Condition>
    static bool WaitFor(Condition condition) {
        const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
        while (!condition()) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(kPollInterval);
        }
        return true;
    }

    fs::path home;
    std::error_code ignored;
    pid_t pid = -1;
    int toDriver = -1;
    std::optional<int> status;
};

class DriverExit : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tarnscsi-indi-exit-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    // Starts the driver and connects it to the simulated camera.
    static void Connect(DriverProcess& driver) {
        driver.Send("<getProperties version='1.7'/>\n");
        driver.Send("<newSwitchVector device='" TARNSCSI_INDI_DEVICE
                    "' name='SIMULATION'><oneSwitch name='ENABLE'>On</oneSwitch></newSwitchVector>\n");
        driver.Send("<newSwitchVector device='" TARNSCSI_INDI_DEVICE
                    "' name='CONNECTION'><oneSwitch name='CONNECT'>On</oneSwitch></newSwitchVector>\n");
    }
    fs::path folder;
};

TEST_F(DriverExit, EveryWayOutReleasesTheCameraInOrder) {
    struct WayOut {
        const char* name;
        int signal;  // 0: the end of the driver's input
    };
    for (const WayOut& way : {WayOut{"end of input", 0}, WayOut{"SIGTERM", SIGTERM}, WayOut{"SIGINT", SIGINT}}) {
        SCOPED_TRACE(way.name);
        const fs::path home = folder / std::to_string(way.signal);
        fs::create_directory(home);
        DriverProcess driver(home);
        Connect(driver);
        ASSERT_TRUE(driver.WaitUntilHolding()) << driver.Errors();
        if (way.signal == 0) {
            driver.CloseInput();
        } else {
            driver.Signal(way.signal);
        }
        const std::optional<int> status = driver.WaitForEnd();
        ASSERT_TRUE(status) << "the driver did not end";
        if (way.signal == 0) {
            EXPECT_TRUE(WIFEXITED(*status)) << "ended by signal " << WTERMSIG(*status) << "\n" << driver.Errors();
        } else {
            // Ended by the signal it was sent, after letting the camera go.
            EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == way.signal) << driver.Errors();
            EXPECT_NE(driver.Output().find("the camera is released"), std::string::npos) << driver.Output();
        }
        EXPECT_EQ(driver.Errors().find("free()"), std::string::npos) << driver.Errors();
        EXPECT_EQ(FileText(home / "state" / kLockFile), "") << "the holder's name stays behind";
        EXPECT_FALSE(FileText(home / "state" / kStateFile).empty()) << "the cooler's state was not kept";
    }
}

}  // namespace
