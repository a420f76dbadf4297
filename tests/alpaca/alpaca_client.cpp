#include "alpaca_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

#include <tarnscsi/camera.h>

#include "sim/sim_control.h"

namespace tarnscsi::alpaca_test {
namespace {

constexpr auto kTimeout = std::chrono::seconds(30);
constexpr int kRawTimeoutMilliseconds = 30000;
// More than any answer of these tests (a full frame as JSON is under 3 MB).
constexpr std::size_t kMostRawBytes = 64U << 20;

// The server's clock in the tests: it moves only when they move it.
std::atomic<std::int64_t> serverMicroseconds{0};

std::chrono::steady_clock::time_point ServerNow() {
    return std::chrono::steady_clock::time_point(std::chrono::microseconds(serverMicroseconds.load()));
}

// The device of the server in this process, on that clock: told when the
// clock moves.
std::atomic<alpaca::CameraDevice*> clockedDevice{nullptr};

// The command of kExternalServerVariable, or null.
const char* ExternalCommand() {
    const char* command = std::getenv(kExternalServerVariable);
    return command != nullptr && *command != '\0' ? command : nullptr;
}

Answer Read(const httplib::Result& result) {
    Answer answer;
    if (!result) return answer;
    answer.status = result->status;
    answer.body = result->body;
    answer.contentType = result->get_header_value("Content-Type");
    if (answer.contentType.find("application/json") != std::string::npos) {
        answer.json = nlohmann::json::parse(answer.body, nullptr, false);
    }
    return answer;
}

}  // namespace

alpaca::ServerOptions AlpacaFixture::TestOptions() {
    alpaca::ServerOptions options;
    options.listen = kLoopback;
    options.port = 0;
    options.discoveryPort = 0;
    options.version = "test";
    options.simulated = true;
    return options;
}

// The command's first line that says where it serves, e.g.
// "tarnscsi-alpaca: Alpaca API on http://127.0.0.1:41234/ (...), discovery on UDP 51234".
constexpr char kServingLine[] = "Alpaca API on http://";
constexpr char kDiscoveryOn[] = "discovery on UDP ";
// Time for the program to start and print that line; generous for Wine.
constexpr int kExternalStartMilliseconds = 60000;
// Polls, 10 ms apart, for the program to end once asked to.
constexpr int kStopPolls = 1000;

std::string ExternalServer::Start(const std::string& command, int httpPort, int udpPort) {
    std::vector<std::string> words;
    std::istringstream split(command);
    for (std::string word; split >> word;) words.push_back(word);
    for (const std::string& added :
         {std::string("--port"), std::to_string(httpPort), std::string("--discovery-port"), std::to_string(udpPort)})
        words.push_back(added);
    std::vector<char*> arguments;
    for (std::string& word : words) arguments.push_back(word.data());
    arguments.push_back(nullptr);

    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) return "pipe: " + std::string(std::strerror(errno));
    pid = fork();
    if (pid == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        dup2(pipeEnds[1], STDERR_FILENO);  // why it could not serve
        execvp(arguments[0], arguments.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    output = pipeEnds[0];
    if (pid < 0) return "fork: " + std::string(std::strerror(errno));

    std::string printed;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kExternalStartMilliseconds);
    while (printed.find('\n', printed.find(kServingLine)) == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd waiting{output, POLLIN, 0};
        if (left.count() <= 0 || poll(&waiting, 1, static_cast<int>(left.count())) <= 0) {
            return "\"" + command + "\" printed no serving line in " + std::to_string(kExternalStartMilliseconds) +
                   " ms: " + printed;
        }
        char chunk[512];
        const ssize_t part = read(output, chunk, sizeof chunk);
        if (part <= 0) return "\"" + command + "\" ended before serving: " + printed;
        printed.append(chunk, static_cast<std::size_t>(part));
    }
    const std::size_t at = printed.find(kServingLine) + std::strlen(kServingLine);
    const std::size_t colon = printed.find(':', at);
    port = colon == std::string::npos ? 0 : std::atoi(printed.c_str() + colon + 1);
    if (const std::size_t udp = printed.find(kDiscoveryOn, at); udp != std::string::npos) {
        discoveryPort = std::atoi(printed.c_str() + udp + std::strlen(kDiscoveryOn));
    }
    if (port <= 0) return "no port in what \"" + command + "\" printed: " + printed;
    return {};
}

ExternalServer::~ExternalServer() {
    // Stopped as Ctrl-C stops it, rather than killed: Wine 8's wineserver
    // now and then fails an assertion (set_fd_events in fd.c) and ends when
    // a program that served many connections is killed, and every Wine
    // program after it fails to start.
    if (pid > 0) {
        kill(pid, SIGINT);
        bool ended = false;
        for (int poll = 0; poll < kStopPolls && !ended; ++poll) {
            ended = waitpid(pid, nullptr, WNOHANG) == pid;
            if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!ended) {
            ADD_FAILURE() << "the server did not end within " << kStopPolls << " polls of SIGINT: killed";
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    if (output >= 0) close(output);
}

void AlpacaFixture::StartServer(const alpaca::ServerOptions& options) {
    ASSERT_FALSE(external) << "this test serves with options of its own: it needs the server in this process";
    client.reset();
    clockedDevice = nullptr;
    server.reset();
    server = std::make_unique<alpaca::AlpacaServer>(options);
    server->Device().UseClock(ServerNow);
    clockedDevice = &server->Device();
    ASSERT_EQ(server->Start(), "");
    client = std::make_unique<httplib::Client>(kLoopback, server->Port());
    client->set_read_timeout(kTimeout);
    client->set_connection_timeout(kTimeout);
}

void AlpacaFixture::SetUp() {
    SimReset();
    SimSetManualClock(1);
    if (const char* command = ExternalCommand(); command != nullptr) {
        externalCommand = command;
        external = std::make_unique<ExternalServer>();
        ASSERT_EQ(external->Start(command), "");
        client = std::make_unique<httplib::Client>(kLoopback, external->port);
        client->set_read_timeout(kTimeout);
        client->set_connection_timeout(kTimeout);
        return;
    }
    StartServer(TestOptions());
}

void AlpacaFixture::TearDown() {
    client.reset();
    clockedDevice = nullptr;
    server.reset();
    external.reset();
    SimReset();
}

Answer AlpacaFixture::Get(const std::string& member, const std::string& query, const std::string& accept) {
    httplib::Headers headers;
    if (!accept.empty()) headers.emplace("Accept", accept);
    return Read(client->Get(kApi + member + (query.empty() ? "" : "?" + query), headers));
}

Answer AlpacaFixture::Put(const std::string& member, const std::string& body) {
    return Read(client->Put(kApi + member, body, "application/x-www-form-urlencoded"));
}

Answer AlpacaFixture::Raw(const std::string& path) { return Read(client->Get(path)); }

void AlpacaFixture::Set(const std::string& member, const std::string& body) {
    const Answer answer = Put(member, body);
    ASSERT_EQ(answer.status, 200) << member << ": " << answer.body;
    ASSERT_EQ(answer.Error(), 0) << member << ": " << answer.body;
}

void AlpacaFixture::Connect() { Set("connected", "Connected=True"); }

void AlpacaFixture::Advance(double seconds) {
    if (ExternalCommand() != nullptr) ADD_FAILURE() << "moving the clock needs the server in this process";
    SimAdvanceClock(static_cast<std::uint64_t>(seconds * 1e6));
    AdvanceServerClock(seconds);
}

void AlpacaFixture::AdvanceServerClock(double seconds) {
    serverMicroseconds += static_cast<std::int64_t>(seconds * 1e6);
    if (alpaca::CameraDevice* device = clockedDevice.load()) device->CatchUp();
}

std::vector<std::uint16_t> AlpacaFixture::ApiFrame(const Frame& frame, double seconds, std::uint64_t seed, int& width,
                                                   int& height) {
    // Far more polls than any exposure of these tests needs.
    constexpr int kMaxPolls = 100;
    SimSetSeed(seed);
    ConnectError error = ConnectError::kNone;
    auto camera = Camera::Open(error);
    EXPECT_TRUE(camera) << ConnectErrorText(error);
    if (!camera) return {};
    EXPECT_TRUE(camera->Expose(WindowFor(frame, SecondsToMilliseconds(seconds))));
    for (int poll = 0; poll < kMaxPolls && !camera->Ready(); ++poll) Advance(0.25);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(kSensorWidth) * kSensorHeight * kBytesPerPixel);
    const DownloadResult download = camera->Download(bytes);
    EXPECT_TRUE(download) << download.message;
    const Frame got = FrameOf(download.window);
    width = BinnedSize(got.width, got.binning);
    height = BinnedSize(got.height, got.binning);
    std::vector<std::uint16_t> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    PixelsFromCamera(std::span<const std::uint8_t>(bytes.data(), download.received), pixels);
    return pixels;
}

RawConnection::RawConnection(int port) {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, kLoopback, &to.sin_addr);
    if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        close(fd);
        fd = -1;
    }
}

RawConnection::~RawConnection() {
    if (fd >= 0) close(fd);
}

bool RawConnection::Send(const std::string& bytes) {
    std::size_t sent = 0;
    while (fd >= 0 && sent < bytes.size()) {
        const ssize_t part = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (part <= 0) return false;
        sent += static_cast<std::size_t>(part);
    }
    return fd >= 0;
}

std::string RawConnection::ReceiveAll() {
    std::string got;
    char chunk[65536];
    while (fd >= 0 && got.size() < kMostRawBytes) {
        pollfd waiting{fd, POLLIN, 0};
        if (poll(&waiting, 1, kRawTimeoutMilliseconds) <= 0) break;
        const ssize_t part = recv(fd, chunk, sizeof chunk, 0);
        if (part <= 0) break;
        got.append(chunk, static_cast<std::size_t>(part));
    }
    return got;
}

bool RawConnection::HeldOpen() const {
    if (fd < 0) return false;
    pollfd waiting{fd, POLLIN, 0};
    if (poll(&waiting, 1, 0) == 0) return true;
    char byte = 0;
    return recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

std::string RawAnswer::Header(const std::string& name) const {
    const auto found = headers.find(name);
    return found == headers.end() ? "" : found->second;
}

std::vector<RawAnswer> ParseAnswers(const std::string& bytes, std::string* rest) {
    std::vector<RawAnswer> answers;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t headEnd = bytes.find("\r\n\r\n", at);
        if (headEnd == std::string::npos) break;
        RawAnswer answer;
        const std::string head = bytes.substr(at, headEnd - at);
        std::size_t line = head.find("\r\n");
        if (head.compare(0, 5, "HTTP/") != 0 || head.size() < 12) break;
        answer.status = std::atoi(head.c_str() + 9);
        while (line != std::string::npos) {
            const std::size_t next = head.find("\r\n", line + 2);
            const std::string field =
                head.substr(line + 2, (next == std::string::npos ? head.size() : next) - line - 2);
            const std::size_t colon = field.find(':');
            if (colon != std::string::npos) {
                std::string name = field.substr(0, colon);
                std::transform(name.begin(), name.end(), name.begin(),
                               [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
                answer.headers.emplace(name, field.substr(field.find_first_not_of(' ', colon + 1)));
            }
            line = next;
        }
        const std::size_t length = std::strtoull(answer.Header("content-length").c_str(), nullptr, 10);
        const std::size_t bodyStart = headEnd + 4;
        if (bytes.size() - bodyStart < length) break;
        answer.body = bytes.substr(bodyStart, length);
        answers.push_back(std::move(answer));
        at = bodyStart + length;
    }
    if (rest) *rest = bytes.substr(at);
    return answers;
}

std::vector<std::uint16_t> RowsOf(const nlohmann::json& value, int& width, int& height) {
    width = static_cast<int>(value.size());
    height = width > 0 ? static_cast<int>(value[0].size()) : 0;
    std::vector<std::uint16_t> rows(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y)
            rows[static_cast<std::size_t>(y) * width + x] = value[x][y].get<std::uint16_t>();
    }
    return rows;
}

std::uint32_t LittleEndian32(const std::string& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset + i])) << (8 * i);
    return value;
}

}  // namespace tarnscsi::alpaca_test
