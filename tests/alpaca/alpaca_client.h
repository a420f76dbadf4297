// A test fixture: the Alpaca server in this process on a free port of
// 127.0.0.1 over the simulated camera on its manual clock, and an HTTP
// client for it.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdint>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include <tarnscsi/frame.h>

#include "server.h"

namespace tarnscsi::alpaca_test {

inline constexpr char kLoopback[] = "127.0.0.1";
inline constexpr char kApi[] = "/api/v1/camera/0/";

// ASCOM's error numbers, as a client reads them in ErrorNumber.
inline constexpr int kNotImplemented = 0x400;
inline constexpr int kInvalidValue = 0x401;
inline constexpr int kValueNotSet = 0x402;
inline constexpr int kNotConnected = 0x407;
inline constexpr int kInvalidOperation = 0x40B;
inline constexpr int kActionNotImplemented = 0x40C;

// CameraState values.
inline constexpr int kStateIdle = 0;
inline constexpr int kStateExposing = 2;
inline constexpr int kStateReading = 3;
inline constexpr int kStateDownload = 4;
inline constexpr int kStateError = 5;

struct Answer {
    int status = 0;
    std::string body;
    std::string contentType;
    nlohmann::json json;  // null unless the body is JSON
    int Error() const { return json.value("ErrorNumber", -1); }
    const nlohmann::json& Value() const { return json.at("Value"); }
};

// The environment variable that names a command starting the server in a
// process of its own (words split at spaces; the fixture adds "--port"
// and "--discovery-port"), for example the Windows program under Wine over
// its simulated camera. The tests then talk to that server; what needs the
// simulator's controls or the server's options in this process fails,
// saying so, and is left out by the gtest filter of such a run.
inline constexpr char kExternalServerVariable[] = "TARNSCSI_ALPACA_TEST_SERVER";

// The server started by that command: its ports, read from the line it
// prints once it serves. Ended (killed) with the object.
class ExternalServer {
public:
    // "" when serving on `port` with discovery on `discoveryPort` (0: free
    // ones), else why not (with what the program printed).
    std::string Start(const std::string& command, int port = 0, int discoveryPort = 0);
    ~ExternalServer();

    int port = 0;
    int discoveryPort = 0;

private:
    int pid = -1;
    int output = -1;
};

class AlpacaFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The options SetUp serves with: 127.0.0.1, free ports, the simulator.
    static alpaca::ServerOptions TestOptions();
    // Serves with `options` instead (the server before it stops).
    void StartServer(const alpaca::ServerOptions& options);

    // GET /api/v1/camera/0/<member>?<query>
    Answer Get(const std::string& member, const std::string& query = "", const std::string& accept = "");
    // PUT /api/v1/camera/0/<member> with a form body.
    Answer Put(const std::string& member, const std::string& body = "");
    Answer Raw(const std::string& path);
    // PUT the value and expect success.
    void Set(const std::string& member, const std::string& body);
    void Connect();
    // Moves the simulated camera's clock and the server's on by whole
    // microseconds; returns once the server has taken every step then due
    // (a poll, a download, a cooler reading).
    static void Advance(double seconds);
    // Moves the server's clock alone (the camera stands still meanwhile),
    // likewise.
    static void AdvanceServerClock(double seconds);
    // The same frame through the C++ API, with the server disconnected: the
    // simulator's noise and stars repeat for the same seed. Row by row.
    static std::vector<std::uint16_t> ApiFrame(const Frame& frame, double seconds, std::uint64_t seed, int& width,
                                               int& height);

    // The HTTP port of the server under test, in this process or not.
    int Port() const { return server ? server->Port() : external->port; }

    std::unique_ptr<alpaca::AlpacaServer> server;
    std::unique_ptr<ExternalServer> external;  // when kExternalServerVariable names one
    std::string externalCommand;
    std::unique_ptr<httplib::Client> client;
};

// A connection of the test's own to 127.0.0.1, for what an HTTP client
// does not send: partial, pipelined or malformed requests.
class RawConnection {
public:
    explicit RawConnection(int port);
    ~RawConnection();
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool Connected() const { return fd >= 0; }
    bool Send(const std::string& bytes);
    // What the server sends until it closes the connection (or stops
    // sending for longer than a generous bound).
    std::string ReceiveAll();
    // Whether the server still holds the connection (it has not closed it).
    bool HeldOpen() const;

private:
    int fd = -1;
};

// One HTTP answer as sent: status, headers (names in lower case), body.
struct RawAnswer {
    int status = 0;
    std::multimap<std::string, std::string> headers;
    std::string body;
    std::string Header(const std::string& name) const;
};

// The answers in `bytes`, each framed by its Content-Length, in order; the
// last is left out if it is not whole, and `rest` gets what follows the last.
std::vector<RawAnswer> ParseAnswers(const std::string& bytes, std::string* rest = nullptr);

// The pixels of an ImageArray answer, [x][y] as sent, row by row.
std::vector<std::uint16_t> RowsOf(const nlohmann::json& value, int& width, int& height);
std::uint32_t LittleEndian32(const std::string& bytes, std::size_t offset);

}  // namespace tarnscsi::alpaca_test
