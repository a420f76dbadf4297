// The Alpaca server beside a crowd: the program at a descriptor limit of
// 256 (soft and hard) and four times as many slow clients, each sending one
// byte of its request a second and connecting again when cut off. Normal
// requests on fresh connections and on one kept-alive connection are timed
// with the crowd and without it: median, p90, worst, and how many got no
// answer within 30 s. Another build of the program may be named as the
// first argument (to compare). Prints; never fails on time.
#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kLoopback[] = "127.0.0.1";
constexpr rlim_t kServerDescriptors = 256;
constexpr int kCrowd = 4 * static_cast<int>(kServerDescriptors);
constexpr int kRequests = 100;  // of each kind, with the crowd and without
constexpr auto kAnswerTimeout = std::chrono::seconds(30);
// Requests stop once this much time has gone on them (an old build answers slowly).
constexpr auto kRequestBudget = std::chrono::seconds(90);
constexpr auto kCrowdTick = std::chrono::milliseconds(100);
constexpr auto kByteInterval = std::chrono::seconds(1);
constexpr auto kCrowdWarmUp = std::chrono::seconds(12);  // past the server's 10 s request allowance
constexpr int kStartPolls = 200;                         // of 50 ms, for the serving line
constexpr double kPercentile90 = 0.9;
constexpr char kSlowRequest[] = "GET /api/v1/camera/0/name HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: aaaaaaaaaaaaaaaaaaaa";

double Quantile(std::vector<double> values, double q) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[static_cast<std::size_t>(q * static_cast<double>(values.size() - 1))];
}

// The program at the low limit; its port, or 0.
struct Server {
    pid_t pid = -1;
    int port = 0;

    explicit Server(const char* program) {
        int out[2];
        if (pipe(out) != 0) return;
        pid = fork();
        if (pid == 0) {
            const rlimit limit{kServerDescriptors, kServerDescriptors};
            setrlimit(RLIMIT_NOFILE, &limit);
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            execl(program, program, "--simulate", "--listen", kLoopback, "--port", "0", "--no-discovery",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        std::string printed;
        const char* marker = "127.0.0.1:";
        for (int poll = 0; poll < kStartPolls && printed.find('\n') == std::string::npos; ++poll) {
            pollfd waiting{out[0], POLLIN, 0};
            if (::poll(&waiting, 1, 50) <= 0) continue;
            char chunk[256];
            const ssize_t got = read(out[0], chunk, sizeof chunk);
            if (got <= 0) break;
            printed.append(chunk, static_cast<std::size_t>(got));
        }
        close(out[0]);
        if (const std::size_t at = printed.find(marker); at != std::string::npos) {
            port = std::atoi(printed.c_str() + at + std::strlen(marker));
        }
    }
    ~Server() {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
};

int Connected(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, kLoopback, &to.sin_addr);
    if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// The slow clients, on a thread of their own, until the object goes.
class Crowd {
public:
    explicit Crowd(int port) {
        worker = std::thread([this, port] {
            struct Client {
                int fd = -1;
                std::size_t sent = 0;
                Clock::time_point next;
            };
            std::vector<Client> clients(kCrowd);
            const std::size_t length = std::strlen(kSlowRequest);
            while (!stopping) {
                const auto now = Clock::now();
                for (Client& c : clients) {
                    if (c.fd >= 0) {
                        char byte = 0;
                        const ssize_t got = recv(c.fd, &byte, 1, MSG_DONTWAIT);
                        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
                            close(c.fd);
                            c.fd = -1;
                            ++reconnects;
                        }
                    }
                    if (c.fd < 0) {
                        c.fd = Connected(port);
                        c.sent = 0;
                        c.next = now;
                    }
                    if (c.fd >= 0 && now >= c.next && c.sent < length) {
                        if (send(c.fd, kSlowRequest + c.sent, 1, MSG_NOSIGNAL) == 1) ++c.sent;
                        c.next = now + kByteInterval;
                    }
                }
                std::this_thread::sleep_for(kCrowdTick);
            }
            for (const Client& c : clients) {
                if (c.fd >= 0) close(c.fd);
            }
        });
    }
    ~Crowd() {
        stopping = true;
        worker.join();
    }
    std::atomic<long> reconnects{0};

private:
    std::atomic<bool> stopping{false};
    std::thread worker;
};

struct Times {
    std::vector<double> answered;  // milliseconds
    int unanswered = 0;
};

Times TimedRequests(int port, bool keptAlive) {
    Times times;
    httplib::Client kept(kLoopback, port);
    kept.set_keep_alive(true);
    kept.set_read_timeout(kAnswerTimeout);
    kept.set_connection_timeout(kAnswerTimeout);
    const auto budget = Clock::now() + kRequestBudget;
    for (int i = 0; i < kRequests && Clock::now() < budget; ++i) {
        httplib::Client fresh(kLoopback, port);
        fresh.set_read_timeout(kAnswerTimeout);
        fresh.set_connection_timeout(kAnswerTimeout);
        const auto start = Clock::now();
        const auto answer = (keptAlive ? kept : fresh).Get("/api/v1/camera/0/camerastate");
        if (answer && answer->status == 200) {
            times.answered.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        } else {
            ++times.unanswered;
        }
    }
    return times;
}

void Print(const char* what, const Times& t) {
    std::printf("  %-34s %3zu answered: median %8.2f ms, p90 %8.2f ms, worst %8.2f ms; %d unanswered\n", what,
                t.answered.size(), Quantile(t.answered, 0.5), Quantile(t.answered, kPercentile90),
                Quantile(t.answered, 1.0), t.unanswered);
}

}  // namespace

int main(int argc, char** argv) {
    const char* program = argc > 1 ? argv[1] : TARNSCSI_ALPACA_PROGRAM;
    // The crowd's own descriptors.
    rlimit own{};
    getrlimit(RLIMIT_NOFILE, &own);
    own.rlim_cur = own.rlim_max;
    setrlimit(RLIMIT_NOFILE, &own);

    Server server(program);
    if (server.port == 0) {
        std::fprintf(stderr, "alpaca_crowd_bench: %s did not start\n", program);
        return 1;
    }
    const Times aloneFresh = TimedRequests(server.port, false);
    const Times aloneKept = TimedRequests(server.port, true);
    Times crowdFresh;
    Times crowdKept;
    long reconnects = 0;
    {
        Crowd crowd(server.port);
        std::this_thread::sleep_for(kCrowdWarmUp);
        crowdFresh = TimedRequests(server.port, false);
        crowdKept = TimedRequests(server.port, true);
        reconnects = crowd.reconnects;
    }
    std::printf("%s at %lu descriptors, camerastate on 127.0.0.1:\n", program,
                static_cast<unsigned long>(kServerDescriptors));
    Print("alone, a fresh connection each", aloneFresh);
    Print("alone, one kept-alive connection", aloneKept);
    std::printf(" beside %d slow clients (a byte a second each; %ld cut off and back):\n", kCrowd, reconnects);
    Print("a fresh connection each", crowdFresh);
    Print("one kept-alive connection", crowdKept);
    return 0;
}
