#include "http_connections.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace tarnscsi::alpaca {
namespace {

using Clock = std::chrono::steady_clock;

// How long a connection that ends after a refused request still takes in
// what its client sends (then discarded), so that the client reads the
// answer before the connection is reset.
constexpr auto kLingerTime = std::chrono::seconds(1);
constexpr std::size_t kReadBufferSize = 4096;
constexpr int kFirstErrorStatus = 400;

struct ConnectionState {
    bool ending = false;
};

// The connection this thread serves.
thread_local ConnectionState* current = nullptr;

int MillisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<decltype(left)>(left, 0, 1 << 30));
}

void AddressText(const sockaddr_storage& address, socklen_t length, std::string& ip, int& port) {
    char host[NI_MAXHOST] = {};
    char service[NI_MAXSERV] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host, service, sizeof service,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return;
    }
    ip = host;
    port = std::atoi(service);
}

// One connection's socket, read through a buffer (the parser reads a byte
// at a time) and waited on together with the server's stop event.
class ConnectionStream final : public httplib::Stream {
public:
    ConnectionStream(int connection, int stop, Clock::duration writeLimit)
        : fd(connection), stopEvent(stop), writeTimeout(writeLimit) {}

    using httplib::Stream::write;

    // Waits for the next request: true once something has come.
    bool WaitForRequest(Clock::time_point deadline) { return bufferStart < bufferEnd || Wait(POLLIN, deadline); }
    void ReadUntil(Clock::time_point deadline) { readDeadline = deadline; }

    // Discards what the client still sends, for a short while.
    void Linger() {
        shutdown(fd, SHUT_WR);
        const auto until = Clock::now() + kLingerTime;
        std::array<char, kReadBufferSize> discard{};
        while (Wait(POLLIN, until) && recv(fd, discard.data(), discard.size(), 0) > 0) {}
    }

    bool is_readable() const override { return bufferStart < bufferEnd || Wait(POLLIN, readDeadline); }
    bool is_writable() const override { return Wait(POLLOUT, Clock::now() + writeTimeout); }

    ssize_t read(char* to, size_t size) override {
        if (bufferStart == bufferEnd) {
            if (!Wait(POLLIN, readDeadline)) return -1;
            const ssize_t got = recv(fd, buffer.data(), buffer.size(), 0);
            if (got <= 0) return got;
            bufferStart = 0;
            bufferEnd = static_cast<std::size_t>(got);
        }
        const std::size_t part = std::min(size, bufferEnd - bufferStart);
        std::memcpy(to, buffer.data() + bufferStart, part);
        bufferStart += part;
        return static_cast<ssize_t>(part);
    }

    ssize_t write(const char* from, size_t size) override {
        if (!is_writable()) return -1;
        return send(fd, from, size, MSG_NOSIGNAL);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            AddressText(address, length, ip, port);
        }
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            AddressText(address, length, ip, port);
        }
    }
    socket_t socket() const override { return fd; }

private:
    // True when the socket is ready for `events` (or has failed: the next
    // call says how) before `deadline`; false on time-out and on stop.
    bool Wait(short events, Clock::time_point deadline) const {
        for (;;) {
            std::array<pollfd, 2> waiting{{{fd, events, 0}, {stopEvent, POLLIN, 0}}};
            const int ready = poll(waiting.data(), waiting.size(), MillisecondsUntil(deadline));
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0 || waiting[1].revents != 0) return false;
            return waiting[0].revents != 0;
        }
    }

    int fd;
    int stopEvent;
    Clock::duration writeTimeout;
    Clock::time_point readDeadline;
    std::array<char, kReadBufferSize> buffer{};
    std::size_t bufferStart = 0;
    std::size_t bufferEnd = 0;
};

}  // namespace

void EndConnectionAfterAnswer() {
    if (current) current->ending = true;
}

bool AnnouncesBody(const httplib::Request& request) {
    return request.has_header("Transfer-Encoding") ||
           (request.has_header("Content-Length") && request.get_header_value("Content-Length") != "0");
}

ConnectionServer::ConnectionServer() : stopEvent(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
    set_keep_alive_timeout(std::chrono::duration_cast<std::chrono::seconds>(kIdleConnectionTime).count());
    set_socket_options([](socket_t socket) {
        const int on = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    });
    // An error answer to a request with a body may have left the body
    // unread (so may one to a request that could not be parsed): the
    // connection ends, and the answer says so.
    set_post_routing_handler([](const httplib::Request& request, httplib::Response& response) {
        if (response.status >= kFirstErrorStatus && (request.path.empty() || AnnouncesBody(request))) {
            EndConnectionAfterAnswer();
        }
        // (An answer made before routing, to Expect: 100-continue, has none yet.)
        if (!response.body.empty() && !response.has_header("Content-Length")) {
            response.set_header("Content-Length", std::to_string(response.body.size()));
        }
        if (current && current->ending) {
            response.headers.erase("Keep-Alive");
            response.headers.erase("Connection");
            response.set_header("Connection", "close");
        }
    });
}

ConnectionServer::~ConnectionServer() {
    if (stopEvent >= 0) close(stopEvent);
}

void ConnectionServer::StopAll() {
    const std::uint64_t one = 1;
    if (stopEvent >= 0) static_cast<void>(::write(stopEvent, &one, sizeof one));
    stop();
}

void ConnectionServer::CloseUnused() {
    if (is_running()) return;
    const socket_t bound = svr_sock_.exchange(INVALID_SOCKET);
    if (bound != INVALID_SOCKET) close(bound);
}

bool ConnectionServer::process_and_close_socket(socket_t connection) {
    const auto writeTimeout = std::chrono::seconds(write_timeout_sec_) + std::chrono::microseconds(write_timeout_usec_);
    // The library writes an answer's header and body apart: without
    // TCP_NODELAY the body waits for the client's delayed acknowledgement of
    // the header (some 40 ms on Linux) on every request of a kept-alive
    // connection after the first.
    const int on = 1;
    setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ConnectionStream stream(connection, stopEvent, std::chrono::duration_cast<Clock::duration>(writeTimeout));
    ConnectionState state;
    current = &state;
    bool served = false;
    for (std::size_t count = 1; count <= keep_alive_max_count_; ++count) {
        if (!stream.WaitForRequest(Clock::now() + kIdleConnectionTime)) break;
        stream.ReadUntil(Clock::now() + kRequestAllowance);
        bool clientCloses = false;
        served = process_request(stream, count == keep_alive_max_count_, clientCloses,
                                 [](httplib::Request& request) { request.ranges.clear(); });
        if (!served || clientCloses || state.ending) break;
    }
    if (state.ending) stream.Linger();
    current = nullptr;
    shutdown(connection, SHUT_RDWR);
    close(connection);
    return served;
}

}  // namespace tarnscsi::alpaca
