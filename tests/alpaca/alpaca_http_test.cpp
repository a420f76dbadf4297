// The HTTP under the Alpaca API, with connections of the test's own: request
// bodies, slow clients, Range headers and pipelined requests, the Host check,
// and where the server listens.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstdio>
#include <thread>

#include "alpaca_client.h"
#include "sim/sim_control.h"

using nlohmann::json;
using namespace tarnscsi::alpaca_test;

namespace {

constexpr char kForm[] = "application/x-www-form-urlencoded";
// Slow clients send a header line this often: well inside any read timeout.
constexpr auto kDribbleInterval = std::chrono::milliseconds(250);
// They keep at it this many times at most: longer than a normal request may
// take (kGenerousSeconds).
constexpr int kMostDribbles = 240;
constexpr int kGenerousSeconds = 20;

class AlpacaHttpTest : public AlpacaFixture {
protected:
    std::string PutRequest(const std::string& member, const std::string& headers, const std::string& body = "") {
        return "PUT /api/v1/camera/0/" + member + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "\r\n" + body;
    }
};

// Clients that each send one header line now and then, never finishing
// their requests, until Stop (or kMostDribbles lines). With `reconnect`,
// one the server has cut off connects again and starts over.
class SlowClients {
public:
    SlowClients(int port, int count, bool reconnect = false) {
        for (int i = 0; i < count; ++i) clients.push_back(Started(port));
        dribbler = std::thread([this, port, reconnect] {
            for (int n = 0; n < kMostDribbles && !stopping; ++n) {
                for (auto& client : clients) {
                    if (reconnect && !client->HeldOpen()) {
                        client = Started(port);
                        ++reconnects;
                    }
                    client->Send("X-Slow: " + std::to_string(n) + "\r\n");
                }
                std::this_thread::sleep_for(kDribbleInterval);
            }
        });
    }
    ~SlowClients() { Stop(); }
    void Stop() {
        stopping = true;
        if (dribbler.joinable()) dribbler.join();
    }
    bool AllHeldOpen() const {
        return std::all_of(clients.begin(), clients.end(), [](const auto& client) { return client->HeldOpen(); });
    }
    int Reconnects() const { return reconnects; }

private:
    static std::unique_ptr<RawConnection> Started(int port) {
        auto client = std::make_unique<RawConnection>(port);
        client->Send("GET /api/v1/camera/0/name HTTP/1.1\r\nHost: 127.0.0.1\r\n");
        return client;
    }

    std::vector<std::unique_ptr<RawConnection>> clients;
    std::atomic<bool> stopping{false};
    std::atomic<int> reconnects{0};
    std::thread dribbler;
};

// 150 slow clients (and a third as many silent ones) by default.
// TARNSCSI_SLOW_CLIENTS sets fewer for a server under emulation (the Windows
// suite in a QEMU guest), which cannot carry 200 connections' traffic within
// its own time limits; never fewer than twice the server's 8 workers, so that
// a worker held per connection still shows.
int SlowClientCount() {
    constexpr int kDefault = 150;
    constexpr int kFewest = 16;
    const char* text = std::getenv("TARNSCSI_SLOW_CLIENTS");
    const int asked = text != nullptr ? std::atoi(text) : kDefault;
    return asked < kFewest ? kFewest : asked;
}

}  // namespace

// Requests as sent on the wire are answered as soon as they are in: a body
// over the limit, or one whose length cannot be read, is refused whatever
// its type, and so are headers over 8 KiB, bare LF line ends, an HTTP/1.1
// request without Host, and a Host that is neither a name of this server nor
// an address as a URI writes one (the same on every system). An empty line
// before the request and an absolute-form target are taken. The server
// goes on serving.
TEST_F(AlpacaHttpTest, RawRequestsAreAnsweredAtOnce) {
    Connect();
    const auto withHost = [](const std::string& host) {
        return "GET /api/v1/camera/0/name HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n";
    };
    std::string chunked;
    for (int i = 0; i < 4; ++i) chunked += "fa0\r\n" + std::string(4000, 'a') + "\r\n";
    chunked += "0\r\n\r\n";
    const struct {
        const char* what;
        std::string request;
        int status;
    } cases[] = {
        {"400 MiB announced, not sent",
         PutRequest("binx", "Content-Type: application/octet-stream\r\nContent-Length: 419430400\r\n"), 413},
        {"400 MiB announced, 100-continue expected",
         PutRequest("binx", "Content-Length: 419430400\r\nExpect: 100-continue\r\n"), 413},
        {"a length past 64 bits", PutRequest("binx", "Content-Length: 99999999999999999999999\r\n"), 413},
        {"a length that is no number", PutRequest("binx", "Content-Length: abc\r\n", "BinX=2"), 400},
        {"two lengths", PutRequest("binx", "Content-Length: 6\r\nContent-Length: 7\r\n", "BinX=2"), 400},
        {"a chunked form over the limit", PutRequest("binx", "Transfer-Encoding: chunked\r\n", chunked), 413},
        {"both length and chunks", PutRequest("binx", "Transfer-Encoding: chunked\r\nContent-Length: 6\r\n"), 400},
        {"a multipart form",
         PutRequest("binx", "Content-Type: multipart/form-data; boundary=x\r\nContent-Length: 6\r\n", "BinX=2"), 415},
        {"a GET with a body",
         "GET /api/v1/camera/0/name HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 6\r\n\r\nBinX=2", 400},
        {"headers over 8 KiB",
         "GET /api/v1/camera/0/name HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: " + std::string(8200, 'p') + "\r\n\r\n", 431},
        {"a bare LF line end", "GET /api/v1/camera/0/name HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\n", 400},
        {"HTTP/1.1 without Host", "GET /api/v1/camera/0/name HTTP/1.1\r\nConnection: close\r\n\r\n", 400},
        {"an empty line first", "\r\n" + withHost("127.0.0.1"), 200},
        {"an absolute-form target",
         "GET http://127.0.0.1/api/v1/camera/0/name HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 200},
        {"an absolute-form target naming another host",
         "GET http://attacker.example/api/v1/camera/0/name HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n",
         403},
        {"a port past 65535", withHost("127.0.0.1:65536"), 403},
        {"a port of many digits", withHost("[::1]:99999999999999999999"), 403},
        {"an address as one number", withHost("2130706433"), 403},
        {"an address in hex", withHost("0x7f.1"), 403},
        {"an address of two parts", withHost("127.1"), 403},
        {"an address with a leading zero", withHost("127.0.0.01"), 403},
        {"an IPv6 address with IPv4 in short", withHost("[::ffff:127.1]"), 403},
    };
    for (const auto& c : cases) {
        RawConnection connection(Port());
        ASSERT_TRUE(connection.Send(c.request)) << c.what;
        // The server answers and closes the connection without waiting for
        // more: ReceiveAll ends.
        const auto answers = ParseAnswers(connection.ReceiveAll());
        EXPECT_EQ(answers.size(), 1U) << c.what;
        if (answers.size() != 1) continue;
        EXPECT_EQ(answers[0].status, c.status) << c.what << ": " << answers[0].body;
        EXPECT_EQ(answers[0].Header("connection"), "close") << c.what;
        EXPECT_FALSE(answers[0].body.empty()) << c.what;
    }
    // Within the limit, chunked or not, the form is taken.
    const std::string padded = "BinX=2&Pad=" + std::string(tarnscsi::alpaca::kMaxBodyBytes - 11, 'p');
    for (const std::string& request :
         {PutRequest("binx", "Content-Type: text/plain\r\nContent-Length: 4096\r\nConnection: close\r\n", padded),
          PutRequest("biny", "Transfer-Encoding: chunked\r\nConnection: close\r\n", "6\r\nBinY=1\r\n0\r\n\r\n")}) {
        RawConnection connection(Port());
        ASSERT_TRUE(connection.Send(request));
        const auto answers = ParseAnswers(connection.ReceiveAll());
        ASSERT_EQ(answers.size(), 1U);
        EXPECT_EQ(answers[0].status, 200) << answers[0].body;
        EXPECT_EQ(json::parse(answers[0].body).at("ErrorNumber"), 0) << answers[0].body;
    }
    EXPECT_EQ(Get("binx").Value(), 1);  // BinY=1 came last
}

// Slow clients (headers a line at a time) and silent connections, far more
// than the server has worker threads, hold none of them: normal requests,
// kept alive and on fresh connections, are answered while those clients
// still hold their connections (before their requests' allowance is out).
TEST_F(AlpacaHttpTest, SlowAndSilentClientsLeaveRoomForOthers) {
    const int kSlow = SlowClientCount();
    const int kSilent = kSlow / 3;
    constexpr int kRequests = 20;
    SlowClients slow(Port(), kSlow);
    std::vector<std::unique_ptr<RawConnection>> silent;
    for (int i = 0; i < kSilent; ++i) silent.push_back(std::make_unique<RawConnection>(Port()));
    client->set_read_timeout(std::chrono::seconds(kGenerousSeconds));
    for (int i = 0; i < kRequests; ++i) {
        const auto kept = client->Get("/api/v1/camera/0/name");
        ASSERT_TRUE(kept) << "no answer while slow clients are connected: " << httplib::to_string(kept.error());
        EXPECT_EQ(json::parse(kept->body).at("Value"), "Nebrix");
        httplib::Client fresh(kLoopback, Port());
        fresh.set_read_timeout(std::chrono::seconds(kGenerousSeconds));
        const auto answer = fresh.Get("/api/v1/camera/0/connected");
        ASSERT_TRUE(answer) << "no answer while slow clients are connected: " << httplib::to_string(answer.error());
    }
    EXPECT_TRUE(slow.AllHeldOpen());
    EXPECT_TRUE(std::all_of(silent.begin(), silent.end(), [](const auto& one) { return one->HeldOpen(); }));
}

// The program at a low descriptor limit, and several times as many slow
// clients as it has descriptors, each connecting again when cut off: normal
// requests on fresh connections are answered all the same, each new
// connection taking the place of the one longest inside its request.
TEST_F(AlpacaHttpTest, ACrowdBeyondTheDescriptorLimitLeavesRoomForOthers) {
    if (external) GTEST_SKIP() << "starts the Linux program at a descriptor limit of its own";
    constexpr int kDescriptors = 128;
    constexpr int kCrowd = 4 * kDescriptors;
    constexpr int kRequests = 10;
    const std::string limit = std::to_string(kDescriptors);
    ExternalServer limited;
    ASSERT_EQ(limited.Start("prlimit --nofile=" + limit + ":" + limit +
                            " " TARNSCSI_ALPACA_PROGRAM " --simulate --listen 127.0.0.1 --no-discovery"),
              "");
    SlowClients crowd(limited.port, kCrowd, true);
    // Until the server has had to cut some of them off.
    for (int wait = 0; wait < kGenerousSeconds * 20 && crowd.Reconnects() == 0; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_GT(crowd.Reconnects(), 0) << "the crowd never met the server's cap";
    for (int i = 0; i < kRequests; ++i) {
        httplib::Client fresh(kLoopback, limited.port);
        fresh.set_connection_timeout(std::chrono::seconds(kGenerousSeconds));
        fresh.set_read_timeout(std::chrono::seconds(kGenerousSeconds));
        const auto answer = fresh.Get("/api/v1/camera/0/connected");
        ASSERT_TRUE(answer) << "request " << i
                            << " not answered beside the crowd: " << httplib::to_string(answer.error());
        EXPECT_EQ(json::parse(answer->body).at("ErrorNumber"), 0) << answer->body;
    }
}

// SIGTERM ends the program at once, even while slow clients are connected.
TEST_F(AlpacaHttpTest, TheProgramEndsOnSigtermWhileSlowClientsAreConnected) {
    int output[2];
    ASSERT_EQ(pipe(output), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(output[1], STDOUT_FILENO);
        close(output[0]);
        execl(TARNSCSI_ALPACA_PROGRAM, TARNSCSI_ALPACA_PROGRAM, "--simulate", "--listen", kLoopback, "--port", "0",
              "--no-discovery", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(output[1]);
    // "tarnscsi-alpaca: Alpaca API on http://127.0.0.1:PORT/ ..."
    FILE* lines = fdopen(output[0], "r");
    char line[512] = {};
    const bool started = std::fgets(line, sizeof line, lines) != nullptr;
    fclose(lines);
    const char* address = std::strstr(line, "127.0.0.1:");
    if (!started || !address) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        FAIL() << "the program did not start: " << line;
    }
    const int port = std::atoi(address + std::strlen("127.0.0.1:"));
    SlowClients slow(port, 8);
    ASSERT_TRUE(slow.AllHeldOpen());
    kill(child, SIGTERM);
    int status = -1;
    bool ended = false;
    for (int poll = 0; poll < kGenerousSeconds * 20 && !ended; ++poll) {
        ended = waitpid(child, &status, WNOHANG) == child;
        if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!ended) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    EXPECT_TRUE(ended) << "still running " << kGenerousSeconds << " s after SIGTERM";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// A Range header is ignored: each image answer is whole (200) and the
// pipelined requests after it are answered in turn.
TEST_F(AlpacaHttpTest, RangesAreIgnoredAndPipelinedRequestsFollow) {
    Connect();
    Set("numx", "NumX=20");
    Set("numy", "NumY=10");
    ASSERT_EQ(Put("startexposure", "Duration=0&Light=true").Error(), 0);
    Advance(1);
    ASSERT_EQ(Get("imageready").Value(), true);
    const std::string whole = Get("imagearray").body;

    const std::string get = "GET /api/v1/camera/0/";
    RawConnection connection(Port());
    connection.Send(get + "imagearray HTTP/1.1\r\nHost: 127.0.0.1\r\nRange: bytes=0-99\r\n\r\n" + get +
                    "imagearray HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: application/imagebytes\r\n"
                    "Range: bytes=10-20\r\n\r\n" +
                    get + "imagearrayvariant HTTP/1.1\r\nHost: 127.0.0.1\r\nRange: bytes=0-1,5-9\r\n\r\n" + get +
                    "name HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    std::string rest;
    const auto answers = ParseAnswers(connection.ReceiveAll(), &rest);
    ASSERT_EQ(answers.size(), 4U);
    EXPECT_EQ(rest, "");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(answers[i].status, 200) << i;
    EXPECT_EQ(json::parse(answers[0].body).at("Value"), json::parse(whole).at("Value"));
    EXPECT_EQ(answers[1].body.size(), 44U + 20U * 10U * 2U);
    EXPECT_EQ(json::parse(answers[2].body).at("Value"), json::parse(whole).at("Value"));
    EXPECT_EQ(json::parse(answers[3].body).at("Value"), "Nebrix");
}

// The Host must name this server: an IP address, localhost, or a name
// allowed with --allow-host (in any case, with or without a port).
TEST_F(AlpacaHttpTest, TheHostHeaderMustNameThisServer) {
    auto options = TestOptions();
    options.allowedHosts = {"Observatory.lan"};
    StartServer(options);
    const std::string port = std::to_string(Port());
    const struct {
        std::string host;
        int status;
    } cases[] = {
        {"127.0.0.1:" + port, 200},
        {"127.0.0.1", 200},
        {"localhost:" + port, 200},
        {"LocalHost", 200},
        {"localhost.", 200},
        {"[::1]:" + port, 200},
        {"[::1]", 200},
        {"192.168.1.20:11111", 200},  // the machine's own address on the network
        {"observatory.lan:" + port, 200},
        {"OBSERVATORY.LAN", 200},
        {"attacker.example", 403},
        {"attacker.example:" + port, 403},
        {"localhost.attacker.example", 403},
        {"127.0.0.1.nip.io", 403},
        {"2130706433", 403},  // no address a browser sends: a name
        {"::1", 403},         // an IPv6 address comes in brackets
        {"[::1", 403},
        {"[attacker.example]", 403},
        {"localhost:80x", 403},
        // Only a name, an address and a port: no byte an address ends at
        // (the server decodes %00), no user, no path, no space.
        {"127.0.0.1%00.attacker.example", 403},
        {"[::1%00]:" + port, 403},
        {"user@127.0.0.1", 403},
        {"127.0.0.1/x", 403},
        {"local host", 403},
    };
    for (const auto& c : cases) {
        for (const char* path : {"/api/v1/camera/0/name", "/management/v1/description", "/setup"}) {
            const auto answer = client->Get(path, httplib::Headers{{"Host", c.host}});
            ASSERT_TRUE(answer) << c.host;
            EXPECT_EQ(answer->status, c.status) << c.host << " " << path;
            if (c.status == 403) {
                EXPECT_NE(answer->body.find("--allow-host"), std::string::npos) << answer->body;
            }
        }
    }
    // A refused PUT changes nothing.
    const auto refused = client->Put("/api/v1/camera/0/connected", httplib::Headers{{"Host", "attacker.example"}},
                                     "Connected=true", kForm);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 403);
    EXPECT_EQ(Get("connected").Value(), false);
    // HTTP/1.0 without a Host comes from no browser.
    RawConnection old(Port());
    old.Send("GET /api/v1/camera/0/name HTTP/1.0\r\n\r\n");
    const auto answers = ParseAnswers(old.ReceiveAll());
    ASSERT_EQ(answers.size(), 1U);
    EXPECT_EQ(answers[0].status, 200);
    // Nor a NUL as it is: no header may hold one (malformed, 400).
    RawConnection nul(Port());
    nul.Send(
        std::string("GET /api/v1/camera/0/name HTTP/1.1\r\nHost: 127.0.0.1\0.attacker.example\r\n"
                    "Connection: close\r\n\r\n",
                    92));
    const auto cut = ParseAnswers(nul.ReceiveAll());
    ASSERT_EQ(cut.size(), 1U);
    EXPECT_EQ(cut[0].status, 400);
    // Two Hosts are one too many.
    RawConnection twice(Port());
    twice.Send("GET /api/v1/camera/0/name HTTP/1.1\r\nHost: 127.0.0.1\r\nHost: localhost\r\nConnection: close\r\n\r\n");
    const auto doubled = ParseAnswers(twice.ReceiveAll());
    ASSERT_EQ(doubled.size(), 1U);
    EXPECT_EQ(doubled[0].status, 400);
}
