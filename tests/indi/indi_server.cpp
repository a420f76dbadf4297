#include "indi_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace tarnscsi::indi_test {
namespace {

using namespace std::chrono_literals;

constexpr auto kStartTimeout = 10s;
constexpr auto kStopTimeout = 3s;
constexpr auto kPollInterval = 20ms;
constexpr int kLaunchAttempts = 3;  // a free port may be taken before the server binds it

constexpr char kLogName[] = "server.log";
constexpr char kSocketName[] = "indiserver.sock";

// A port nobody listens on now: the kernel's choice for port 0.
int FreeLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(fd);
    return port;
}

bool Accepts(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

std::string NameOf(const std::string& assignment) { return assignment.substr(0, assignment.find('=')); }

// Our environment with `overrides` added or replacing entries of the same name.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& overrides) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string assignment(*entry);
        bool replaced = false;
        for (const auto& override : overrides) {
            replaced = replaced || NameOf(override) == NameOf(assignment);
        }
        if (!replaced) merged.push_back(assignment);
    }
    merged.insert(merged.end(), overrides.begin(), overrides.end());
    return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (auto& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Waits up to `timeout` for the child to end, leaving it a zombie so that
// its process id, and with it the group id, stays reserved; true if it ended.
bool Ended(pid_t pid, std::chrono::steady_clock::duration timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return true;
        if (info.si_pid == pid) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kPollInterval);
    }
}

}  // namespace

IndiServer::~IndiServer() {
    Stop();
    if (!folder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
}

bool IndiServer::Start(const Options& options, std::string& error) {
    std::string folderTemplate = (std::filesystem::temp_directory_path() / "tarnscsi-indi-XXXXXX").string();
    if (mkdtemp(folderTemplate.data()) == nullptr) {
        error = std::string("cannot make a folder for the server: ") + std::strerror(errno);
        return false;
    }
    folder = folderTemplate;
    for (int attempt = 0; attempt < kLaunchAttempts; ++attempt) {
        if (!Launch(options, error)) return false;
        if (WaitUntilListening(error)) return true;
        Stop();
    }
    return false;
}

bool IndiServer::Launch(const Options& options, std::string& error) {
    port = FreeLoopbackPort();
    if (port == 0) {
        error = "no free loopback port";
        return false;
    }
    // The server also listens on a local socket; the default name is shared
    // by every server on the machine, so each of ours gets its own.
    std::vector<std::string> arguments = {
        INDISERVER_PATH, "-v", "-r", "0", "-p", std::to_string(port), "-u", (folder / kSocketName).string()};
    arguments.insert(arguments.end(), options.drivers.begin(), options.drivers.end());
    std::vector<std::string> environment = options.environment;
    // A home of its own: no saved driver configuration comes in, none goes out.
    environment.insert(environment.begin(), "HOME=" + folder.string());
    environment = MergedEnvironment(environment);
    const std::string logPath = (folder / kLogName).string();
    auto argv = Pointers(arguments);
    auto envp = Pointers(environment);

    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0) {
        error = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    if (child == 0) {
        // Its own process group, which its drivers join: one signal reaches all.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(EXIT_FAILURE);
        const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        const int nothing = open("/dev/null", O_RDONLY);
        if (log < 0 || nothing < 0) _exit(EXIT_FAILURE);
        dup2(nothing, STDIN_FILENO);
        dup2(log, STDOUT_FILENO);
        dup2(log, STDERR_FILENO);
        execve(argv[0], argv.data(), envp.data());
        _exit(EXIT_FAILURE);
    }
    setpgid(child, child);  // also here, so that Stop reaches the group whoever runs first
    pid = child;
    return true;
}

bool IndiServer::WaitUntilListening(std::string& error) {
    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (Accepts(port)) return true;
        if (Ended(pid, std::chrono::steady_clock::duration::zero())) {
            error = "indiserver ended at start:\n" + Log();
            return false;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    error = "indiserver did not listen on port " + std::to_string(port) + ":\n" + Log();
    return false;
}

void IndiServer::Stop() {
    if (pid < 0) return;
    kill(-pid, SIGTERM);
    Ended(pid, kStopTimeout);
    // Whatever is left of the group, the server or drivers that outlived it.
    kill(-pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

std::string IndiServer::Log() const {
    std::ifstream in(folder / kLogName);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace tarnscsi::indi_test