// An indiserver of the test's own: started on a free port with the given
// drivers (absolute paths) and environment, in a private home folder, and
// stopped with every driver it started when the object goes. Should the
// test program die first, the server is killed with it and its drivers end
// on the closed pipe.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace tarnscsi::indi_test {

class IndiServer {
public:
    struct Options {
        std::vector<std::string> drivers;      // absolute paths
        std::vector<std::string> environment;  // NAME=value, added to or replacing ours
    };

    IndiServer() = default;
    ~IndiServer();
    IndiServer(const IndiServer&) = delete;
    IndiServer& operator=(const IndiServer&) = delete;

    // Starts the server and waits until it accepts connections. On failure
    // returns false with the reason (and the server's log) in `error`.
    bool Start(const Options& options, std::string& error);
    void Stop();

    int Port() const { return port; }
    // What the server and its drivers wrote.
    std::string Log() const;

private:
    bool Launch(const Options& options, std::string& error);
    bool WaitUntilListening(std::string& error);

    std::filesystem::path folder;
    pid_t pid = -1;
    int port = 0;
};

}  // namespace tarnscsi::indi_test