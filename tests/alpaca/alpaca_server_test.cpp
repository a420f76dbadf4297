// The Alpaca protocol over HTTP: every member's value or error, transaction
// IDs, parameter names and malformed requests, the management API,
// discovery and the setup page.
#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <thread>

#include "alpaca_client.h"
#include "discovery.h"
#include "sim/sim_control.h"

using nlohmann::json;
using namespace tarnscsi::alpaca_test;

namespace {

struct MemberCase {
    const char* member;
    json value;     // expected Value when error is 0
    int error = 0;  // expected ErrorNumber
};

class AlpacaServerTest : public AlpacaFixture {};

// localhost as Debian's hosts file gives it: ::1 first, then 127.0.0.1.
std::vector<tarnscsi::alpaca::SocketAddress> BothLoopbacks(const std::string& name, std::string& problem) {
    if (name != "localhost") {
        problem = "unknown name";
        return {};
    }
    std::vector<tarnscsi::alpaca::SocketAddress> addresses(2);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&addresses[0].address);
    v6->sin6_family = AF_INET6;
    v6->sin6_addr = in6addr_loopback;
    addresses[0].length = sizeof *v6;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&addresses[1].address);
    v4->sin_family = AF_INET;
    v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addresses[1].length = sizeof *v4;
    return addresses;
}

// Whether an HTTP GET of the camera's name at address:port is answered.
bool Answers(const std::string& address, int port) {
    httplib::Client http(address, port);
    const auto answer = http.Get("/api/v1/camera/0/name");
    return answer && answer->status == 200;
}

}  // namespace

// Every GET member of a connected camera that has no exposure yet: its value
// or the error the camera's lack of such a thing gives.
TEST_F(AlpacaServerTest, EveryGetMemberAnswersWithItsValueOrError) {
    Connect();
    const MemberCase cases[] = {
        {"connected", true},
        {"connecting", false},
        {"interfaceversion", 4},
        {"driverversion", "test"},
        {"name", "Nebrix"},
        {"supportedactions", json::array()},
        {"cameraxsize", 768},
        {"cameraysize", 512},
        {"binx", 1},
        {"biny", 1},
        {"maxbinx", 2},
        {"maxbiny", 2},
        {"canasymmetricbin", false},
        {"numx", 768},
        {"numy", 512},
        {"startx", 0},
        {"starty", 0},
        {"pixelsizex", 9.0},
        {"pixelsizey", 9.0},
        {"maxadu", 65535},
        {"sensortype", 0},
        {"readoutmode", 0},
        {"readoutmodes", json::array({"Normal"})},
        {"sensorname", ""},
        {"exposuremin", 0.0},
        {"exposuremax", 2147483.647},
        {"exposureresolution", 0.001},
        {"hasshutter", false},
        {"canabortexposure", true},
        {"canstopexposure", false},
        {"canfastreadout", false},
        {"canpulseguide", false},
        {"cangetcoolerpower", true},
        {"cansetccdtemperature", true},
        {"camerastate", 0},
        {"imageready", false},
        {"percentcompleted", 0},
        {"cooleron", false},
        {"ccdtemperature", 20.0},
        {"coolerpower", 0.0},
        {"setccdtemperature", 50.0},  // none asked yet: the setpoint the cooler idles at
        {"lastexposureduration", nullptr, kValueNotSet},
        {"lastexposurestarttime", nullptr, kValueNotSet},
        {"imagearray", nullptr, kInvalidOperation},
        {"imagearrayvariant", nullptr, kInvalidOperation},
        {"bayeroffsetx", nullptr, kNotImplemented},
        {"bayeroffsety", nullptr, kNotImplemented},
        {"electronsperadu", nullptr, kNotImplemented},
        {"fullwellcapacity", nullptr, kNotImplemented},
        {"gain", nullptr, kNotImplemented},
        {"gainmax", nullptr, kNotImplemented},
        {"gainmin", nullptr, kNotImplemented},
        {"gains", nullptr, kNotImplemented},
        {"offset", nullptr, kNotImplemented},
        {"offsetmax", nullptr, kNotImplemented},
        {"offsetmin", nullptr, kNotImplemented},
        {"offsets", nullptr, kNotImplemented},
        {"fastreadout", nullptr, kNotImplemented},
        {"heatsinktemperature", nullptr, kNotImplemented},
        {"ispulseguiding", nullptr, kNotImplemented},
        {"subexposureduration", nullptr, kNotImplemented},
    };
    for (const MemberCase& c : cases) {
        const Answer answer = Get(c.member);
        ASSERT_EQ(answer.status, 200) << c.member << ": " << answer.body;
        EXPECT_EQ(answer.Error(), c.error) << c.member << ": " << answer.body;
        if (c.error == 0) {
            EXPECT_EQ(answer.Value(), c.value) << c.member;
        } else {
            EXPECT_FALSE(answer.json.contains("Value")) << c.member;
            EXPECT_NE(answer.json.value("ErrorMessage", ""), "") << c.member;
        }
    }
    // The texts name the camera and this server.
    EXPECT_NE(Get("description").Value().get<std::string>().find("Nebrix"), std::string::npos);
    EXPECT_NE(Get("driverinfo").Value().get<std::string>().find("tarnscsi-alpaca test"), std::string::npos);
    // DeviceState gathers the operational values.
    json names = json::array();
    const Answer state = Get("devicestate");
    for (const auto& item : state.Value()) names.push_back(item.at("Name"));
    EXPECT_EQ(names, json({"CameraState", "CCDTemperature", "CoolerPower", "ImageReady", "PercentCompleted"}));
}

// The PUT members: what they accept, what they refuse, and the ones the
// camera does not have.
TEST_F(AlpacaServerTest, EveryPutMemberAcceptsOrRefuses) {
    Connect();
    const struct {
        const char* member;
        const char* body;
        int error;
    } cases[] = {
        {"binx", "BinX=2", 0},
        {"binx", "BinX=3", kInvalidValue},
        {"biny", "BinY=0", kInvalidValue},
        {"biny", "BinY=1", 0},
        {"numx", "NumX=100", 0},
        {"numy", "NumY=50", 0},
        {"startx", "StartX=5", 0},
        {"starty", "StartY=6", 0},
        {"readoutmode", "ReadoutMode=0", 0},
        {"readoutmode", "ReadoutMode=1", kInvalidValue},
        {"setccdtemperature", "SetCCDTemperature=-280", kInvalidValue},
        {"setccdtemperature", "SetCCDTemperature=-5.5", 0},
        {"cooleron", "CoolerOn=true", 0},
        {"abortexposure", "", 0},
        {"stopexposure", "", kNotImplemented},
        {"pulseguide", "Direction=0&Duration=1", kNotImplemented},
        {"gain", "Gain=1", kNotImplemented},
        {"offset", "Offset=1", kNotImplemented},
        {"fastreadout", "FastReadout=false", kNotImplemented},
        {"subexposureduration", "SubExposureDuration=1", kNotImplemented},
        {"action", "Action=x&Parameters=", kActionNotImplemented},
        {"commandblind", "Command=x&Raw=false", kNotImplemented},
        {"commandbool", "Command=x&Raw=false", kNotImplemented},
        {"commandstring", "Command=x&Raw=false", kNotImplemented},
    };
    for (const auto& c : cases) {
        const Answer answer = Put(c.member, c.body);
        ASSERT_EQ(answer.status, 200) << c.member << " " << c.body << ": " << answer.body;
        EXPECT_EQ(answer.Error(), c.error) << c.member << " " << c.body << ": " << answer.body;
    }
    // Binning is one value for both axes; the frame values read back.
    EXPECT_EQ(Get("binx").Value(), 1);
    EXPECT_EQ(Get("numx").Value(), 100);
    EXPECT_EQ(Get("starty").Value(), 6);
    EXPECT_EQ(Get("setccdtemperature").Value(), -5.5);
    EXPECT_EQ(Get("cooleron").Value(), true);
}

// Before Connected, the camera's members say so; the common ones answer.
TEST_F(AlpacaServerTest, MembersNeedAConnectionExceptTheCommonOnes) {
    for (const char* member : {"cameraxsize", "camerastate", "ccdtemperature", "binx", "imageready", "devicestate"}) {
        EXPECT_EQ(Get(member).Error(), kNotConnected) << member;
    }
    EXPECT_EQ(Put("startexposure", "Duration=1&Light=true").Error(), kNotConnected);
    for (const char* member :
         {"connected", "description", "driverinfo", "driverversion", "interfaceversion", "name", "supportedactions"}) {
        EXPECT_EQ(Get(member).Error(), 0) << member;
    }
    EXPECT_EQ(Get("connected").Value(), false);
    // Connect and Disconnect of the current interface, as Connected does.
    ASSERT_EQ(Put("connect").Error(), 0);
    EXPECT_EQ(Get("connected").Value(), true);
    ASSERT_EQ(Put("disconnect").Error(), 0);
    EXPECT_EQ(Get("connected").Value(), false);
}

// ClientTransactionID comes back; ServerTransactionID rises; GET names match
// in any case, PUT names only as spelt.
TEST_F(AlpacaServerTest, TransactionIdsAndParameterNames) {
    Connect();
    const struct {
        const char* query;
        std::uint32_t echoed;
    } gets[] = {
        {"ClientID=1&ClientTransactionID=42", 42},
        {"clientid=1&clienttransactionid=43", 43},
        {"CLIENTTRANSACTIONID=4294967295", 4294967295U},
        {"ClientID=1&ClientTransactionID=44&ExtraParameter=x", 44},
        {"", 0},
    };
    std::uint32_t lastServer = 0;
    for (const auto& c : gets) {
        const Answer answer = Get("name", c.query);
        ASSERT_EQ(answer.status, 200) << c.query;
        EXPECT_EQ(answer.json.at("ClientTransactionID"), c.echoed) << c.query;
        const auto serverId = answer.json.at("ServerTransactionID").get<std::uint32_t>();
        EXPECT_GT(serverId, lastServer) << c.query;
        lastServer = serverId;
    }
    // PUT: a wrongly cased ClientTransactionID is not one; a wrongly cased
    // member parameter is missing.
    EXPECT_EQ(Put("binx", "ClientTransactionID=7&BinX=1").json.at("ClientTransactionID"), 7);
    const Answer lower = Put("binx", "clienttransactionid=7&BinX=1");
    EXPECT_EQ(lower.status, 200);
    EXPECT_EQ(lower.json.at("ClientTransactionID"), 0);
    EXPECT_EQ(Put("binx", "ClientTransactionID=7&binx=1").status, 400);
    EXPECT_EQ(Put("startexposure", "Duration=1&LIGHT=true").status, 400);
    // Values that are no uint32 make the request malformed.
    for (const char* bad : {"ClientTransactionID=", "ClientTransactionID=%20%20", "ClientTransactionID=-1",
                            "ClientTransactionID=qweqwe", "ClientID=4294967296", "ClientID=asdasd"}) {
        EXPECT_EQ(Get("name", bad).status, 400) << bad;
        EXPECT_EQ(Put("binx", std::string(bad) + "&BinX=1").status, 400) << bad;
    }
}

// Malformed requests give 400 with a text, unknown devices and members 404,
// and the server keeps serving.
TEST_F(AlpacaServerTest, MalformedRequestsAreRefusedAndTheServerGoesOn) {
    Connect();
    const struct {
        const char* member;
        const char* body;
    } bad[] = {
        {"startexposure", "Duration=abc&Light=true"},
        {"startexposure", "Duration=1&Light=maybe"},
        {"startexposure", "Light=true"},
        {"startexposure", "Duration=1e999&Light=true"},
        {"startexposure", "Duration=-inf&Light=true"},
        {"setccdtemperature", "SetCCDTemperature=nan"},
        {"connected", "Connected="},
        {"connected", "Connected=123456"},
        {"connected", "Connected=asdqwe"},
        {"binx", "BinX=asduio6fghZZ"},
        {"numx", "NumX=1.5"},
        {"setccdtemperature", "SetCCDTemperature=cold"},
        {"cooleron", "CoolerOn=1"},
        {"gain", "Gain=asduio6fghZZ"},
        // Texts that are not UTF-8: a lone byte, an overlong form, a surrogate.
        {"action", "Action=%FF%FE&Parameters="},
        {"action", "Action=x&Parameters=%C0%AF"},
        {"commandstring", "Command=%ED%A0%80&Raw=false"},
    };
    for (const auto& c : bad) {
        const Answer answer = Put(c.member, c.body);
        EXPECT_EQ(answer.status, 400) << c.member << " " << c.body;
        EXPECT_NE(answer.contentType.find("text/plain"), std::string::npos);
        EXPECT_NE(answer.body.find(c.member), std::string::npos) << answer.body;
    }
    for (const char* path :
         {"/api/v1/CAMERA/0/description", "/api/v1/baddevicetype/0/description", "/api/v1/camera/-1/description",
          "/api/v1/camera/99999/description", "/api/v1/camera/A/description", "/api/v1/camera/0/descrip"}) {
        EXPECT_EQ(Raw(path).status, 404) << path;
    }
    EXPECT_EQ(Get("startexposure").status, 405);
    // Still serving, and nothing was changed by the refused requests.
    EXPECT_EQ(Get("binx").Value(), 1);
    EXPECT_EQ(Get("connected").Value(), true);
}

TEST_F(AlpacaServerTest, ManagementApiDescribesTheServerAndItsOneCamera) {
    EXPECT_EQ(Raw("/management/apiversions?ClientTransactionID=3").json.at("Value"), json::array({1}));
    EXPECT_EQ(Raw("/management/apiversions?ClientTransactionID=3").json.at("ClientTransactionID"), 3);
    const json description = Raw("/management/v1/description").json.at("Value");
    EXPECT_EQ(description.at("ServerName"), "tarnscsi-alpaca");
    // The version the fixture gives an in-process server; a program its own.
    if (server) {
        EXPECT_EQ(description.at("ManufacturerVersion"), "test");
    }
    const json devices = Raw("/management/v1/configureddevices").json.at("Value");
    ASSERT_EQ(devices.size(), 1U);
    EXPECT_EQ(devices[0].at("DeviceType"), "Camera");
    EXPECT_EQ(devices[0].at("DeviceNumber"), 0);
    // The UniqueID is a UUID, the same from one start to the next.
    const std::string id = devices[0].at("UniqueID");
    EXPECT_EQ(id.size(), 36U);
    EXPECT_EQ(id, tarnscsi::alpaca::UniqueIdFor({}));
    EXPECT_EQ(Raw("/management/apiversions?ClientTransactionID=x").status, 400);
}

namespace {

// The answer to `message` sent to the discovery port at `address` (IPv4 or
// IPv6; an IPv6 group through interface `through`); "" when none comes.
// `source`, when given, is set to the address the answer came from.
std::string AskDiscovery(const char* address, int port, const std::string& message, unsigned through = 0,
                         std::string* source = nullptr) {
    sockaddr_storage to{};
    socklen_t length = 0;
    if (auto* v4 = reinterpret_cast<sockaddr_in*>(&to); inet_pton(AF_INET, address, &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<std::uint16_t>(port));
        length = sizeof *v4;
    } else if (auto* v6 = reinterpret_cast<sockaddr_in6*>(&to); inet_pton(AF_INET6, address, &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<std::uint16_t>(port));
        length = sizeof *v6;
    } else {
        return "";
    }
    const int probe = socket(to.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return "";
    const int on = 1;
    setsockopt(probe, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    if (through != 0) setsockopt(probe, IPPROTO_IPV6, IPV6_MULTICAST_IF, &through, sizeof through);
    sendto(probe, message.data(), message.size(), 0, reinterpret_cast<const sockaddr*>(&to), length);
    pollfd waiting{probe, POLLIN, 0};
    std::string answer;
    if (poll(&waiting, 1, 2000) > 0) {
        char reply[256];
        sockaddr_storage from{};
        socklen_t fromLength = sizeof from;
        const ssize_t got = recvfrom(probe, reply, sizeof reply, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (got > 0) answer.assign(reply, static_cast<std::size_t>(got));
        char text[INET6_ADDRSTRLEN] = {};
        const void* raw = from.ss_family == AF_INET6
                              ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(&from)->sin6_addr)
                              : static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(&from)->sin_addr);
        if (source && got > 0 && inet_ntop(from.ss_family, raw, text, sizeof text)) *source = text;
    }
    close(probe);
    return answer;
}

// Whether this machine has the IPv6 loopback address.
bool HasIpv6Loopback() {
    const int probe = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return false;
    sockaddr_in6 local{};
    local.sin6_family = AF_INET6;
    local.sin6_addr = in6addr_loopback;
    const bool bound = bind(probe, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
    close(probe);
    return bound;
}

}  // namespace

// The discovery datagram gets the HTTP port back where ASCOM's clients send
// it on this machine, the loopback broadcast included, whatever loopback or
// wildcard address the server listens on, from the address it listens on;
// other datagrams get nothing, nor does a datagram for a loopback address the
// server does not listen on.
TEST_F(AlpacaServerTest, DiscoveryAnswersWithTheAlpacaPort) {
    EXPECT_EQ(AskDiscovery(kLoopback, server->DiscoveryPort(), "hello"), "");
    struct Case {
        const char* listen;
        const char* to;
        bool answered;
        // Where the answer comes from, when it is the served address.
        const char* from = nullptr;
    };
    const std::string byDefault = tarnscsi::alpaca::ServerOptions{}.listen;
    const Case cases[] = {
        {byDefault.c_str(), "127.255.255.255", true},
        {kLoopback, "127.255.255.255", true},
        {kLoopback, kLoopback, true},
        // The probe sends from 127.0.0.1: the answer still leaves from the
        // served address, where the client's next request goes.
        {"127.0.0.2", "127.255.255.255", true, "127.0.0.2"},
        {kLoopback, "127.0.0.2", false},
        {"localhost", "127.255.255.255", true},
        {"0.0.0.0", "127.255.255.255", true},
        {"0.0.0.0", "127.0.0.2", true},
    };
    for (const Case& c : cases) {
        auto options = TestOptions();
        options.listen = c.listen;
        StartServer(options);
        std::string from;
        const std::string answer =
            AskDiscovery(c.to, server->DiscoveryPort(), tarnscsi::alpaca::kDiscoveryMessage, 0, &from);
        if (c.from) {
            EXPECT_EQ(from, c.from) << c.listen << " <- " << c.to;
        }
        if (!c.answered) {
            EXPECT_EQ(answer, "") << c.listen << " <- " << c.to;
            continue;
        }
        ASSERT_FALSE(answer.empty()) << c.listen << " <- " << c.to;
        EXPECT_EQ(json::parse(answer), json({{"AlpacaPort", server->Port()}})) << c.listen << " <- " << c.to;
    }
    // Another Alpaca server of the machine shares the discovery port.
    auto neighbour = TestOptions();
    neighbour.discoveryPort = server->DiscoveryPort();
    EXPECT_EQ(tarnscsi::alpaca::AlpacaServer(neighbour).Start(), "");
}

namespace {

// Two network namespaces of the test's own joined by a veth pair: the
// server's (10.231.0.1/24, fd31::1/64) and a client's (10.231.0.2/24,
// fd31::2/64). Both go with it.
class VethPair {
public:
    static constexpr char kServerAddress[] = "10.231.0.1";
    static constexpr char kBroadcast[] = "10.231.0.255";
    static constexpr char kServerAddress6[] = "fd31::1";

    VethPair() : tag(std::to_string(getpid())), server("tarnscsi-s" + tag), client("tarnscsi-c" + tag) {
        const std::string a = "tvs" + tag;
        const std::string b = ClientInterface();
        made = Run("ip netns add " + server) && Run("ip netns add " + client) &&
               // Addresses usable at once: no duplicate address detection.
               Run("ip netns exec " + server + " sysctl -qw net.ipv6.conf.default.accept_dad=0") &&
               Run("ip netns exec " + client + " sysctl -qw net.ipv6.conf.default.accept_dad=0") &&
               Run("ip link add " + a + " netns " + server + " type veth peer name " + b + " netns " + client) &&
               Run("ip -n " + server + " addr add 10.231.0.1/24 broadcast 10.231.0.255 dev " + a) &&
               Run("ip -n " + client + " addr add 10.231.0.2/24 broadcast 10.231.0.255 dev " + b) &&
               Run("ip -n " + server + " addr add fd31::1/64 nodad dev " + a) &&
               Run("ip -n " + client + " addr add fd31::2/64 nodad dev " + b) &&
               Run("ip -n " + server + " link set " + a + " up") && Run("ip -n " + client + " link set " + b + " up") &&
               // The kernel adds the client's IPv6 multicast route shortly after the link is up.
               Eventually("ip -n " + client + " -6 route show table local | grep -q ff00::/8");
    }
    std::string ClientInterface() const { return "tvc" + tag; }
    ~VethPair() {
        Run("ip netns del " + server);
        Run("ip netns del " + client);
    }
    VethPair(const VethPair&) = delete;
    VethPair& operator=(const VethPair&) = delete;

    bool Made() const { return made; }
    // Runs `what` with this thread in the namespace (sockets made meanwhile
    // stay in it), then back in the test's own.
    bool InServer(const std::function<void()>& what) const { return In(server, what); }
    bool InClient(const std::function<void()>& what) const { return In(client, what); }

private:
    static bool Run(const std::string& command) { return std::system((command + " 2>/dev/null").c_str()) == 0; }
    static bool Eventually(const std::string& command) {
        constexpr int kTries = 50;
        constexpr auto kPause = std::chrono::milliseconds(100);
        for (int i = 0; i < kTries; ++i) {
            if (Run(command)) return true;
            std::this_thread::sleep_for(kPause);
        }
        return false;
    }
    static bool In(const std::string& name, const std::function<void()>& what) {
        const int own = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        const int other = open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
        const bool entered = own >= 0 && other >= 0 && setns(other, CLONE_NEWNET) == 0;
        if (entered) {
            what();
            setns(own, CLONE_NEWNET);
        }
        if (own >= 0) close(own);
        if (other >= 0) close(other);
        return entered;
    }

    std::string tag;
    std::string server;
    std::string client;
    bool made = false;
};

}  // namespace

// A client on the LAN broadcasts to its network: a server listening on its
// address there answers; over IPv6, to the discovery group.
// The program in a process of its own (the Windows program under Wine):
// discovery answers on the loopback broadcast; a second program shares the
// discovery port, and one on the same HTTP port is refused, saying so.
TEST_F(AlpacaServerTest, AProgramSharesDiscoveryAndHoldsItsPort) {
    if (!external) GTEST_SKIP() << "for a server in a process of its own (" << kExternalServerVariable << ")";
    const std::string answer = "{\"AlpacaPort\":" + std::to_string(external->port) + "}";
    EXPECT_EQ(AskDiscovery("127.255.255.255", external->discoveryPort, "alpacadiscovery1"), answer);
    ExternalServer busy;
    const std::string refused = busy.Start(externalCommand, external->port);
    EXPECT_NE(refused.find("port " + std::to_string(external->port) +
                           " is in use by another program; choose one with --port"),
              std::string::npos)
        << refused;
    ExternalServer second;
    ASSERT_EQ(second.Start(externalCommand, 0, external->discoveryPort), "");
    EXPECT_FALSE(AskDiscovery("127.255.255.255", external->discoveryPort, "alpacadiscovery1").empty());
}

TEST_F(AlpacaServerTest, DiscoveryAnswersALanBroadcast) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root, to make network namespaces and a veth pair";
    VethPair lan;
    if (!lan.Made()) GTEST_SKIP() << "could not make network namespaces with a veth pair (ip netns, ip link)";
    auto options = TestOptions();
    options.listen = VethPair::kServerAddress;
    auto options6 = TestOptions();
    options6.listen = VethPair::kServerAddress6;
    std::unique_ptr<tarnscsi::alpaca::AlpacaServer> there;
    std::unique_ptr<tarnscsi::alpaca::AlpacaServer> there6;
    ASSERT_TRUE(lan.InServer([&] {
        there = std::make_unique<tarnscsi::alpaca::AlpacaServer>(options);
        EXPECT_EQ(there->Start(), "");
        there6 = std::make_unique<tarnscsi::alpaca::AlpacaServer>(options6);
        EXPECT_EQ(there6->Start(), "");
    }));
    std::string answer;
    std::string answer6;
    ASSERT_TRUE(lan.InClient([&] {
        answer = AskDiscovery(VethPair::kBroadcast, there->DiscoveryPort(), tarnscsi::alpaca::kDiscoveryMessage);
        answer6 = AskDiscovery(tarnscsi::alpaca::kDiscoveryGroup, there6->DiscoveryPort(),
                               tarnscsi::alpaca::kDiscoveryMessage, if_nametoindex(lan.ClientInterface().c_str()));
    }));
    const int port = there->Port();
    const int port6 = there6->Port();
    there.reset();
    there6.reset();
    ASSERT_FALSE(answer.empty());
    EXPECT_EQ(json::parse(answer), json({{"AlpacaPort", port}}));
    ASSERT_FALSE(answer6.empty());
    EXPECT_EQ(json::parse(answer6), json({{"AlpacaPort", port6}}));
}

// Where the server listens: a name or an IPv6 address serves HTTP and
// discovery alike; a mistyped address is named as such; a port another
// server holds is refused, and that server goes on alone.
TEST_F(AlpacaServerTest, ListenAddressesAndABusyPort) {
    auto options = TestOptions();
    options.port = server->Port();
    tarnscsi::alpaca::AlpacaServer second(options);
    const std::string busy = second.Start();
    EXPECT_NE(busy.find("is in use by another program; choose one with --port"), std::string::npos) << busy;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Get("name").status, 200);

    for (const char* mistyped : {"300.1.2.3", "::g", "[::1"}) {
        options = TestOptions();
        options.listen = mistyped;
        const std::string problem = tarnscsi::alpaca::AlpacaServer(options).Start();
        EXPECT_NE(problem.find("not an IP address"), std::string::npos) << mistyped << ": " << problem;
        EXPECT_EQ(problem.find("another server"), std::string::npos) << mistyped << ": " << problem;
    }

    // localhost serves on every address this machine's resolver gives it.
    std::string problem;
    std::vector<std::string> listens = {"::1"};
    for (const auto& address : tarnscsi::alpaca::SystemLookup("localhost", problem)) {
        listens.push_back("localhost " + address.Text());
    }
    if (!HasIpv6Loopback()) listens.erase(listens.begin());
    for (const std::string& listen : listens) {
        const std::string address = listen.substr(listen.find(' ') + 1);
        options = TestOptions();
        options.listen = listen.substr(0, listen.find(' '));
        tarnscsi::alpaca::AlpacaServer named(options);
        ASSERT_EQ(named.Start(), "") << listen;
        EXPECT_TRUE(Answers(address, named.Port())) << listen;
        const std::string found =
            AskDiscovery(address.c_str(), named.DiscoveryPort(), tarnscsi::alpaca::kDiscoveryMessage);
        ASSERT_FALSE(found.empty()) << listen;
        EXPECT_EQ(json::parse(found), json({{"AlpacaPort", named.Port()}})) << listen;
    }

    // Where localhost stands for both loopbacks, both serve; a port busy on
    // either refuses the start and leaves the other unbound.
    if (!HasIpv6Loopback()) return;
    options = TestOptions();
    options.listen = "localhost";
    options.discovery = false;
    options.lookup = BothLoopbacks;
    {
        tarnscsi::alpaca::AlpacaServer both(options);
        ASSERT_EQ(both.Start(), "");
        EXPECT_TRUE(Answers(kLoopback, both.Port()));
        EXPECT_TRUE(Answers("::1", both.Port()));
    }
    options.port = server->Port();  // busy on 127.0.0.1
    tarnscsi::alpaca::AlpacaServer refused(options);
    const std::string half = refused.Start();
    EXPECT_NE(half.find("cannot listen on 127.0.0.1:" + std::to_string(options.port) + ": port " +
                        std::to_string(options.port) + " is in use by another program; choose one with --port"),
              std::string::npos)
        << half;
    options.listen = "::1";
    tarnscsi::alpaca::AlpacaServer after(options);
    EXPECT_EQ(after.Start(), "");
}

// A second client sees what the first did, and cannot start a second
// exposure over it.
TEST_F(AlpacaServerTest, ASecondClientSeesTheStateTheFirstCaused) {
    Connect();
    httplib::Client other(kLoopback, server->Port());
    ASSERT_EQ(Put("startexposure", "Duration=5&Light=true").Error(), 0);
    const auto state = other.Get("/api/v1/camera/0/camerastate?ClientID=2");
    ASSERT_TRUE(state);
    EXPECT_EQ(json::parse(state->body).at("Value"), 2);
    const auto second =
        other.Put("/api/v1/camera/0/startexposure", "Duration=1&Light=true", "application/x-www-form-urlencoded");
    ASSERT_TRUE(second);
    EXPECT_EQ(json::parse(second->body).at("ErrorNumber"), kInvalidOperation);
}

// The setup page as a browser shows it: identity, cooling, exposure and
// server settings.
TEST_F(AlpacaServerTest, SetupPageRendersInABrowser) {
    const std::string chromium = TARNSCSI_CHROMIUM;
    if (chromium.empty() || chromium.find("NOTFOUND") != std::string::npos) {
        GTEST_SKIP() << "chromium is not installed (scripts/install-deps.sh alpaca): the setup page is not rendered";
    }
    Connect();
    Set("setccdtemperature", "SetCCDTemperature=-10");
    Set("cooleron", "CoolerOn=true");
    Advance(60);
    const std::string command = "timeout 90 " + chromium +
                                " --headless --no-sandbox --disable-gpu --no-first-run --user-data-dir=$(mktemp -d)"
                                " --dump-dom http://127.0.0.1:" +
                                std::to_string(server->Port()) + "/setup/v1/camera/0/setup 2>/dev/null";
    std::string dom;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char chunk[4096];
        std::size_t got = 0;
        while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) dom.append(chunk, got);
        pclose(pipe);
    }
    ASSERT_FALSE(dom.empty()) << command;
    for (const char* shown :
         {"<td id=\"connected\">yes</td>", "<td id=\"temperature\">-10.0 C</td>", "<td id=\"cooler\">on</td>",
          "<td id=\"setpoint\">-10.0 C</td>", "<td id=\"state\">idle</td>", "<td id=\"discovery\">UDP port"}) {
        EXPECT_NE(dom.find(shown), std::string::npos) << shown << "\n" << dom;
    }
    EXPECT_NE(dom.find("Nebrix"), std::string::npos);
}
