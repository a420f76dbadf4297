#include "indi_pipe.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <thread>

extern char** environ;

namespace tarnscsi::bench {

namespace {

using namespace std::chrono_literals;

constexpr auto kConnectLimit = 30s;
// How long past the exposure time an image may take to arrive.
constexpr auto kImageAllowance = 10s;
constexpr auto kExitLimit = 10s;
constexpr auto kExitPoll = 10ms;
constexpr std::size_t kReadChunk = 64 * 1024;

}  // namespace

IndiDriverPipe::~IndiDriverPipe() {
    if (toDriver >= 0) close(toDriver);
    if (pid > 0) {
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + kExitLimit;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(kExitPoll);
        }
    }
    if (fromDriver >= 0) close(fromDriver);
}

bool IndiDriverPipe::Start(const std::string& driver, std::string& error) {
    int input[2];
    int output[2];
    if (pipe2(input, O_CLOEXEC) != 0) {
        error = "no pipe";
        return false;
    }
    if (pipe2(output, O_CLOEXEC) != 0) {
        close(input[0]);
        close(input[1]);
        error = "no pipe";
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    std::string program = driver;
    char* argv[] = {program.data(), nullptr};
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    close(output[1]);
    toDriver = input[1];
    fromDriver = output[0];
    if (spawned != 0) {
        pid = -1;
        error = "cannot start " + driver;
        return false;
    }
    return true;
}

bool IndiDriverPipe::ConnectDevice(const std::string& name, std::string& error) {
    device = name;
    if (!Send("<getProperties version=\"1.7\"/>\n") || !WaitFor("name='CONNECTION'", kConnectLimit)) {
        error = device + " did not define CONNECTION";
        return false;
    }
    const std::string connect = "<newSwitchVector device=\"" + device +
                                "\" name=\"CONNECTION\"><oneSwitch name=\"CONNECT\">On</oneSwitch></newSwitchVector>\n";
    // The image property comes last of a camera's properties.
    if (!Send(connect) || !WaitFor("name='CCD1'", kConnectLimit)) {
        error = device + " did not connect";
        return false;
    }
    return true;
}

bool IndiDriverPipe::Expose(double seconds, std::string& error) {
    const std::string expose = "<newNumberVector device=\"" + device +
                               "\" name=\"CCD_EXPOSURE\"><oneNumber name=\"CCD_EXPOSURE_VALUE\">" +
                               std::to_string(seconds) + "</oneNumber></newNumberVector>\n";
    const auto limit =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::duration<double>(seconds) + kImageAllowance);
    if (!Send(expose) || !WaitFor("</setBLOBVector>", limit)) {
        error = "no image arrived";
        return false;
    }
    // The driver sends no further image until the server has answered the
    // ping that follows each one.
    std::string uid;
    if (!WaitFor("<pingRequest uid='", kConnectLimit) || !WaitFor("'", kConnectLimit, &uid) ||
        !Send("<pingReply uid=\"" + uid + "\"/>\n")) {
        error = "the driver's ping after the image did not come";
        return false;
    }
    return true;
}

bool IndiDriverPipe::Send(const std::string& xml) {
    std::size_t sent = 0;
    while (sent < xml.size()) {
        const ssize_t written = write(toDriver, xml.data() + sent, xml.size() - sent);
        if (written <= 0) return false;
        sent += static_cast<std::size_t>(written);
    }
    return true;
}

bool IndiDriverPipe::WaitFor(const std::string& text, std::chrono::milliseconds limit, std::string* before) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::array<char, kReadChunk> chunk{};
    std::size_t searched = 0;
    while (true) {
        if (const std::size_t at = pending.find(text, searched); at != std::string::npos) {
            if (before != nullptr) before->assign(pending, 0, at);
            pending.erase(0, at + text.size());
            return true;
        }
        // Only what came since needs a look next time, with room for a
        // text split between two reads.
        searched = pending.size() >= text.size() ? pending.size() - text.size() + 1 : 0;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd readable{fromDriver, POLLIN, 0};
        if (poll(&readable, 1, static_cast<int>(left.count())) <= 0) continue;
        const ssize_t got = read(fromDriver, chunk.data(), chunk.size());
        if (got <= 0) return false;  // the driver has gone
        pending.append(chunk.data(), static_cast<std::size_t>(got));
    }
}

}  // namespace tarnscsi::bench
