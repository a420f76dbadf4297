// A full frame over a slow link: the program in a network namespace of the
// test's own, the client in another, joined by a veth pair whose both ends
// tc's token bucket holds to 256 kbit/s. Needs root (skipped otherwise);
// about a minute: its own ctest, labelled slow-link. With
// kExternalServerVariable the server is the command it names (the Windows
// program under Wine: its Wine prefix must have no wineserver running, for
// Wine makes a program's sockets in the wineserver, which the program then
// starts in the namespace).
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "alpaca_client.h"
#include "image_encoding.h"

using namespace tarnscsi::alpaca_test;

namespace {

constexpr char kServerAddress[] = "192.0.2.1";  // TEST-NET-1, inside the namespaces only
constexpr char kClientAddress[] = "192.0.2.2";
constexpr char kPrefix[] = "/24";
constexpr char kRate[] = "256kbit";
constexpr int kMostPolls = 200;  // of 50 ms, for the image
// A full frame at 256 kbit/s takes some 25 s: ample.
constexpr auto kReadTimeout = std::chrono::seconds(120);
constexpr std::size_t kFitsCard = 80;

// Two namespaces, a veth pair between them, addresses, and the rate limit
// on both ends; all gone with the object.
class SlowLink {
public:
    SlowLink() {
        const std::string id = std::to_string(getpid());
        serverSide = "tarnscsi-slow-server-" + id;
        clientSide = "tarnscsi-slow-client-" + id;
        const std::string serverEnd = "tss" + id;
        const std::string clientEnd = "tsc" + id;
        for (const std::string& command : {
                 "ip netns add " + serverSide,
                 "ip netns add " + clientSide,
                 "ip link add " + serverEnd + " netns " + serverSide + " type veth peer name " + clientEnd + " netns " +
                     clientSide,
                 "ip -n " + serverSide + " addr add " + kServerAddress + kPrefix + " dev " + serverEnd,
                 "ip -n " + clientSide + " addr add " + kClientAddress + kPrefix + " dev " + clientEnd,
                 "ip -n " + serverSide + " link set lo up",
                 "ip -n " + serverSide + " link set " + serverEnd + " up",
                 "ip -n " + clientSide + " link set " + clientEnd + " up",
                 "tc -n " + serverSide + " qdisc add dev " + serverEnd + " root tbf rate " + kRate +
                     " burst 4kb latency 200ms",
                 "tc -n " + clientSide + " qdisc add dev " + clientEnd + " root tbf rate " + kRate +
                     " burst 4kb latency 200ms",
             }) {
            if (std::system((command + " 2>&1").c_str()) != 0) {
                problem = "'" + command + "' failed";
                return;
            }
        }
    }
    ~SlowLink() {
        // With a namespace goes its end of the pair.
        static_cast<void>(std::system(("ip netns del " + serverSide + " 2>/dev/null").c_str()));
        static_cast<void>(std::system(("ip netns del " + clientSide + " 2>/dev/null").c_str()));
    }

    std::string serverSide;
    std::string clientSide;
    std::string problem;
};

// This thread in the namespace `name` until the object goes (its sockets
// are made there).
class InNamespace {
public:
    explicit InNamespace(const std::string& name) {
        home = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        const int there = open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
        entered = home >= 0 && there >= 0 && setns(there, CLONE_NEWNET) == 0;
        if (there >= 0) close(there);
    }
    ~InNamespace() {
        if (entered) static_cast<void>(setns(home, CLONE_NEWNET));
        if (home >= 0) close(home);
    }
    bool entered = false;

private:
    int home = -1;
};

std::string FetchImageBytes(httplib::Client& client) {
    const auto answer = client.Get(std::string(kApi) + "imagearray",
                                   httplib::Headers{{"Accept", tarnscsi::alpaca::image_bytes::kMediaType}});
    EXPECT_TRUE(answer) << "ImageBytes: " << httplib::to_string(answer.error());
    return answer ? answer->body : "";
}

std::string FetchFits(httplib::Client& client) {
    const auto answer = client.Get("/page/frame.fits");
    EXPECT_TRUE(answer) << "FITS: " << httplib::to_string(answer.error());
    return answer ? answer->body : "";
}

// The FITS file without the card that says when it was written.
std::string WithoutDate(std::string fits) {
    for (std::size_t card = 0; card + kFitsCard <= fits.size(); card += kFitsCard) {
        if (fits.compare(card, 9, "DATE    =") == 0) fits.replace(card, kFitsCard, kFitsCard, ' ');
    }
    return fits;
}

template <typename Fetch>
std::string Timed(const char* what, httplib::Client& client, Fetch fetch) {
    const auto start = std::chrono::steady_clock::now();
    std::string body = fetch(client);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s: %zu bytes in %.1f s (%.0f kbit/s)\n", what, body.size(), seconds,
                static_cast<double>(body.size()) * 8 / 1000 / seconds);
    return body;
}

}  // namespace

TEST(AlpacaSlowLinkTest, AFullFrameArrivesWholeAsImageBytesAndAsFits) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make network namespaces (ip netns) and shape a link (tc)";
    SlowLink link;
    if (!link.problem.empty()) GTEST_SKIP() << "cannot make the slow link: " << link.problem;
    // The exposure and the readout are over at once.
    setenv("TARNSCSI_SIM", "time-scale=0", 1);
    const char* external = std::getenv(kExternalServerVariable);
    const std::string program = external && *external ? external : TARNSCSI_ALPACA_PROGRAM " --simulate";
    ExternalServer server;
    ASSERT_EQ(
        server.Start("ip netns exec " + link.serverSide + " " + program + " --no-discovery --listen " + kServerAddress),
        "");

    // The frame, and both answers as the server's own namespace gets them.
    std::string bytes;
    std::string fits;
    {
        InNamespace in(link.serverSide);
        ASSERT_TRUE(in.entered);
        httplib::Client local(kServerAddress, server.port);
        const std::string form = "application/x-www-form-urlencoded";
        ASSERT_TRUE(local.Put(std::string(kApi) + "connected", "Connected=true", form));
        ASSERT_TRUE(local.Put(std::string(kApi) + "startexposure", "Duration=0&Light=true", form));
        bool ready = false;
        for (int poll = 0; poll < kMostPolls && !ready; ++poll) {
            const auto answer = local.Get(std::string(kApi) + "imageready");
            ready = answer && nlohmann::json::parse(answer->body).value("Value", false);
            if (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ASSERT_TRUE(ready);
        bytes = FetchImageBytes(local);
        fits = FetchFits(local);
    }
    ASSERT_EQ(bytes.size(),
              tarnscsi::alpaca::image_bytes::kHeaderLength + 2U * tarnscsi::kSensorWidth * tarnscsi::kSensorHeight);
    ASSERT_GT(fits.size(), 2U * tarnscsi::kSensorWidth * tarnscsi::kSensorHeight);

    InNamespace in(link.clientSide);
    ASSERT_TRUE(in.entered);
    httplib::Client remote(kServerAddress, server.port);
    remote.set_read_timeout(kReadTimeout);
    const std::string slowBytes = Timed("ImageBytes", remote, FetchImageBytes);
    ASSERT_EQ(slowBytes.size(), bytes.size());
    // All but the server's transaction number.
    const std::size_t id = tarnscsi::alpaca::image_bytes::kServerTransactionIdOffset;
    EXPECT_TRUE(slowBytes.compare(id + 4, std::string::npos, bytes, id + 4) == 0);
    const std::string slowFits = Timed("FITS", remote, FetchFits);
    ASSERT_EQ(slowFits.size(), fits.size());
    EXPECT_TRUE(WithoutDate(slowFits) == WithoutDate(fits));
}
