// Exposures over HTTP against the simulated camera on its manual clock: the
// states on the way, the image as JSON and as ImageBytes compared with the
// same frame taken through the C++ API, binning, subframes, abort, and the
// cooler; and the same frame from another build's program (the Windows one
// under Wine) as from this build's.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <set>
#include <tarnscsi/camera.h>
#include <thread>

#include "alpaca_client.h"
#include "image_encoding.h"
#include "sim/sim_control.h"

using nlohmann::json;
using namespace tarnscsi;
using namespace tarnscsi::alpaca_test;

namespace {

constexpr std::uint64_t kSeed = 77;
constexpr std::int32_t kAmbientTenths = 200;
constexpr char kImageBytes[] = "application/imagebytes";
// Polls in the tests are bounded: far more than any exposure here needs.
constexpr int kMaxPolls = 100;

// The image's reads on the bus since the log was cleared: how many were
// sent, and how many of them have finished.
struct ImageReads {
    int sent = 0;
    int finished = 0;
};

ImageReads ReadsOnTheBus() {
    constexpr std::uint8_t kRead10 = 0x28;
    ImageReads reads;
    for (std::uint32_t i = 0; i < SimLogCount(); ++i) {
        SimRequest request{};
        if (SimLogGet(i, &request) != 0 || request.cdb[0] != kRead10) continue;
        ++reads.sent;
        if (request.finalStatus != 0) ++reads.finished;  // 0 is SS_PENDING: still on the bus
    }
    return reads;
}

class AlpacaExposureTest : public AlpacaFixture {
protected:
    // A 64 x 64 frame: its download is four image reads of 2048 bytes.
    static constexpr int kHeldReads = 4;
    static constexpr std::uint32_t kHeldMicroseconds = 300000;

    void SetUp() override {
        AlpacaFixture::SetUp();
        SimSetImageKind(SIM_IMAGE_SKY);
    }
    void TearDown() override {
        if (mover.joinable()) mover.join();
        SimSetCompletion(SIM_IMMEDIATE, 0);
        AlpacaFixture::TearDown();
    }

    // Exposes a 64 x 64 frame and lets the camera read it out; the server's
    // clock, moved on another thread, then finds it ready and downloads it
    // with every command held on the bus for kHeldMicroseconds. Returns once
    // the first image read is on the bus.
    void HoldADownload() {
        constexpr int kMaxWaits = 5000;  // of 1 ms, for that read to arrive
        Set("numx", "NumX=64");
        Set("numy", "NumY=64");
        ASSERT_EQ(Put("startexposure", "Duration=0&Light=true").Error(), 0);
        SimAdvanceClock(1000000);  // the camera's clock alone: the server has not looked
        SimLogClear();
        SimSetCompletion(SIM_PENDING, kHeldMicroseconds);
        mover = std::thread([] { AdvanceServerClock(1); });
        for (int wait = 0; wait < kMaxWaits && ReadsOnTheBus().sent == 0; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_EQ(ReadsOnTheBus().sent, 1);
    }
    // Once the server has the image (or has dropped it).
    void ReleaseTheDownload() {
        mover.join();
        SimSetCompletion(SIM_IMMEDIATE, 0);
    }

    std::thread mover;

    // Cools to `celsius` and waits, on the manual clock, until it is there.
    void Cool(double celsius) {
        Set("setccdtemperature", "SetCCDTemperature=" + std::to_string(celsius));
        Set("cooleron", "CoolerOn=true");
        Advance(60);
        ASSERT_NEAR(Get("ccdtemperature").Value().get<double>(), celsius, 0.05);
    }

    // Advances the clock in steps until ImageReady; the states seen on the way.
    std::vector<int> WaitForImage() {
        std::vector<int> states;
        for (int poll = 0; poll < kMaxPolls; ++poll) {
            const int state = Get("camerastate").Value();
            if (states.empty() || states.back() != state) states.push_back(state);
            if (Get("imageready").Value() == true) break;
            Advance(0.25);
        }
        states.push_back(Get("camerastate").Value());
        return states;
    }

    // The ImageBytes answer's pixels, row by row.
    static std::vector<std::uint16_t> BytesRows(const std::string& body, int width, int height) {
        std::vector<std::uint16_t> rows(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
        std::size_t at = alpaca::image_bytes::kHeaderLength;
        for (int x = 0; x < width; ++x) {
            for (int y = 0; y < height; ++y, at += 2) {
                rows[static_cast<std::size_t>(y) * width + x] = static_cast<std::uint16_t>(
                    static_cast<unsigned char>(body[at]) | (static_cast<unsigned char>(body[at + 1]) << 8));
            }
        }
        return rows;
    }
};

}  // namespace

// Cool, expose 1 s, follow the states, download as JSON and as ImageBytes:
// both give the pixels the C++ API gives for the same frame.
TEST_F(AlpacaExposureTest, WholeExposureMatchesTheCppApi) {
    Connect();
    Cool(-10);
    SimSetSeed(kSeed);
    ASSERT_EQ(Put("startexposure", "Duration=1&Light=true").Error(), 0);
    EXPECT_EQ(Get("imageready").Value(), false);
    // Progress follows the clock (the camera does not report it).
    EXPECT_EQ(Get("percentcompleted").Value(), 0);
    Advance(0.5);
    EXPECT_EQ(Get("percentcompleted").Value(), 50);
    const std::vector<int> states = WaitForImage();
    // Exposing, then reading out, then idle with the image.
    ASSERT_GE(states.size(), 2U);
    EXPECT_EQ(states.front(), 2);
    EXPECT_EQ(states.back(), 0);
    EXPECT_EQ(Get("imageready").Value(), true);
    EXPECT_EQ(Get("percentcompleted").Value(), 100);
    EXPECT_EQ(Get("lastexposureduration").Value(), 1.0);
    const std::string start = Get("lastexposurestarttime").Value();
    EXPECT_EQ(start.size(), 23U) << start;  // CCYY-MM-DDThh:mm:ss.sss, UTC
    EXPECT_EQ(start[10], 'T');

    const Answer array = Get("imagearray", "ClientTransactionID=9");
    ASSERT_EQ(array.Error(), 0);
    EXPECT_EQ(array.json.at("Type"), 2);
    EXPECT_EQ(array.json.at("Rank"), 2);
    EXPECT_EQ(array.json.at("ClientTransactionID"), 9);
    int width = 0;
    int height = 0;
    const std::vector<std::uint16_t> fromJson = RowsOf(array.Value(), width, height);
    ASSERT_EQ(width, 768);  // the first index is X
    ASSERT_EQ(height, 512);
    EXPECT_EQ(Get("imagearrayvariant").Value(), array.Value());

    const Answer bytes = Get("imagearray", "ClientTransactionID=10", kImageBytes);
    ASSERT_EQ(bytes.contentType, kImageBytes);
    ASSERT_EQ(bytes.body.size(), 44U + 768U * 512U * 2U);
    namespace ib = alpaca::image_bytes;
    EXPECT_EQ(LittleEndian32(bytes.body, ib::kMetadataVersionOffset), 1U);
    EXPECT_EQ(LittleEndian32(bytes.body, ib::kErrorNumberOffset), 0U);
    EXPECT_EQ(LittleEndian32(bytes.body, ib::kClientTransactionIdOffset), 10U);
    EXPECT_GT(LittleEndian32(bytes.body, ib::kServerTransactionIdOffset), 0U);
    EXPECT_EQ(LittleEndian32(bytes.body, ib::kDataStartOffset), 44U);
    EXPECT_EQ(LittleEndian32(bytes.body, ib::kImageElementTypeOffset), 2U);         // Int32
    EXPECT_EQ(LittleEndian32(bytes.body, ib::kTransmissionElementTypeOffset), 8U);  // UInt16
    EXPECT_EQ(LittleEndian32(bytes.body, ib::kRankOffset), 2U);
    EXPECT_EQ(LittleEndian32(bytes.body, ib::kDimension1Offset), 768U);
    EXPECT_EQ(LittleEndian32(bytes.body, ib::kDimension2Offset), 512U);
    EXPECT_EQ(LittleEndian32(bytes.body, ib::kDimension3Offset), 0U);
    EXPECT_EQ(BytesRows(bytes.body, 768, 512), fromJson);

    Set("disconnect", "");
    int apiWidth = 0;
    int apiHeight = 0;
    const auto fromApi = ApiFrame(Frame{}, 1.0, kSeed, apiWidth, apiHeight);
    ASSERT_EQ(apiWidth, 768);
    ASSERT_EQ(apiHeight, 512);
    EXPECT_EQ(fromJson, fromApi);
}

// A binned subframe is the matching part of the binned full frame, with
// NumX x NumY pixels.
TEST_F(AlpacaExposureTest, BinnedSubframeIsThePartOfTheFullFrame) {
    Connect();
    Set("binx", "BinX=2");
    Set("biny", "BinY=2");
    Set("startx", "StartX=10");
    Set("starty", "StartY=20");
    Set("numx", "NumX=100");
    Set("numy", "NumY=50");
    SimSetSeed(kSeed);
    ASSERT_EQ(Put("startexposure", "Duration=0.5&Light=true").Error(), 0);
    WaitForImage();
    int width = 0;
    int height = 0;
    const auto sub = RowsOf(Get("imagearray").Value(), width, height);
    ASSERT_EQ(width, 100);
    ASSERT_EQ(height, 50);
    const Answer bytes = Get("imagearray", "", kImageBytes);
    EXPECT_EQ(BytesRows(bytes.body, 100, 50), sub);

    Set("disconnect", "");
    int fullWidth = 0;
    int fullHeight = 0;
    const auto full = ApiFrame(Frame{0, 0, kSensorWidth, kSensorHeight, kBinned}, 0.5, kSeed, fullWidth, fullHeight);
    ASSERT_EQ(fullWidth, 384);
    for (int y = 0; y < 50; ++y) {
        for (int x = 0; x < 100; ++x) {
            ASSERT_EQ(sub[static_cast<std::size_t>(y) * 100 + x],
                      full[static_cast<std::size_t>(y + 20) * fullWidth + (x + 10)])
                << x << ", " << y;
        }
    }
}

// A camera just powered on answers its first command after INQUIRY with UNIT
// ATTENTION, and this one is reset again before the exposure: the library
// asks again each time, and the client sees nothing of it.
TEST_F(AlpacaExposureTest, ACameraJustPoweredOnConnectsAndExposes) {
    ASSERT_EQ(SimConfigure("unit-attention=1"), 0);
    Connect();
    EXPECT_EQ(Get("ccdtemperature").Value(), 20.0);
    SimAddFault(0x24, 0, 1, SIM_FAULT_UNIT_ATTENTION);  // SET WINDOW
    ASSERT_EQ(Put("startexposure", "Duration=0.5&Light=true").Error(), 0);
    WaitForImage();
    EXPECT_EQ(Get("imageready").Value(), true);
    const Answer array = Get("imagearray");
    ASSERT_EQ(array.Error(), 0) << array.body;
    EXPECT_EQ(array.json.at("Value").size(), static_cast<std::size_t>(kSensorWidth));
}

// An image read whose data arrive short ends the exposure in error: no
// image is ready, and the one before is not served in its place.
TEST_F(AlpacaExposureTest, AShortImageReadEndsTheExposureInError) {
    Connect();
    ASSERT_EQ(Put("startexposure", "Duration=0&Light=true").Error(), 0);
    WaitForImage();
    ASSERT_EQ(Get("imageready").Value(), true);
    SimAddFault(0x28, 10, 1, SIM_FAULT_SHORT_TRANSFER);  // READ(10)
    ASSERT_EQ(Put("startexposure", "Duration=0&Light=true").Error(), 0);
    for (int poll = 0; poll < kMaxPolls && Get("camerastate").Value() != kStateError; ++poll) Advance(0.25);
    EXPECT_EQ(Get("camerastate").Value(), kStateError);
    EXPECT_EQ(Get("imageready").Value(), false);
    const Answer failed = Get("imagearray");
    EXPECT_EQ(failed.Error(), kInvalidOperation);
    const std::string message = failed.json.value("ErrorMessage", "");
    EXPECT_NE(message.find("READ(10): host adapter: data overrun or underrun"), std::string::npos) << message;
}

// Frames the camera cannot take are refused at StartExposure, and nothing is
// started.
TEST_F(AlpacaExposureTest, InvalidFramesAreRefusedAtStartExposure) {
    Connect();
    const struct {
        const char* settings[5];
        const char* duration;
    } cases[] = {
        {{"NumX=769", "", "", "", ""}, "1"},
        {{"StartX=1", "", "", "", ""}, "1"},
        {{"NumY=0", "", "", "", ""}, "1"},
        {{"StartY=-1", "NumY=10", "", "", ""}, "1"},
        {{"NumX=9223372036854775807", "", "", "", ""}, "1"},
        {{"BinX=2", "NumX=385", "", "", ""}, "1"},
        {{"BinX=2", "StartY=200", "NumY=57", "", ""}, "1"},
        {{"", "", "", "", ""}, "-1"},
        {{"", "", "", "", ""}, "3000000"},
    };
    for (const auto& c : cases) {
        Set("binx", "BinX=1");
        Set("numx", "NumX=768");
        Set("numy", "NumY=512");
        Set("startx", "StartX=0");
        Set("starty", "StartY=0");
        for (const char* setting : c.settings) {
            if (*setting == '\0') continue;
            std::string member(setting, std::strchr(setting, '='));
            for (char& ch : member) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            Set(member, setting);
        }
        const Answer answer = Put("startexposure", std::string("Duration=") + c.duration + "&Light=true");
        EXPECT_EQ(answer.Error(), kInvalidValue) << c.settings[0] << " " << c.settings[1] << " " << answer.body;
        EXPECT_EQ(Get("camerastate").Value(), 0);
    }
}

// AbortExposure drops the frame: no image then, nor after the camera would
// have finished; the next exposure works.
TEST_F(AlpacaExposureTest, AbortDiscardsTheFrame) {
    Connect();
    ASSERT_EQ(Put("startexposure", "Duration=10&Light=true").Error(), 0);
    EXPECT_EQ(Get("camerastate").Value(), 2);
    Set("abortexposure", "");
    EXPECT_EQ(Get("camerastate").Value(), 0);
    Advance(20);
    EXPECT_EQ(Get("imageready").Value(), false);
    EXPECT_EQ(Get("imagearray").Error(), kInvalidOperation);
    const Answer bytes = Get("imagearray", "", kImageBytes);
    EXPECT_EQ(LittleEndian32(bytes.body, alpaca::image_bytes::kErrorNumberOffset),
              static_cast<std::uint32_t>(kInvalidOperation));
    EXPECT_NE(bytes.body.find("no image"), std::string::npos);
    EXPECT_EQ(Get("lastexposureduration").Error(), 0x402);

    ASSERT_EQ(Put("startexposure", "Duration=0&Light=false").Error(), 0);
    WaitForImage();
    EXPECT_EQ(Get("imageready").Value(), true);
}

// The download runs on the server's own thread: while the image is on the
// bus, CameraState is Download and PercentCompleted moves through it, reads
// are answered at once, ImageReady stays false until the last read is in,
// and an action waits for the download's end.
TEST_F(AlpacaExposureTest, TheDownloadRunsOnItsOwnWhileClientsReadAndAct) {
    constexpr int kDownloadPolls = 20000;
    Connect();
    HoldADownload();
    EXPECT_EQ(Get("camerastate").Value(), kStateDownload);
    EXPECT_EQ(Get("ccdtemperature").Error(), 0);  // the reading taken before
    EXPECT_EQ(ReadsOnTheBus().finished, 0);       // answered within the first read

    const ImageReads atAction = ReadsOnTheBus();
    int finishedAtAnswer = -1;
    std::thread acting([this, &finishedAtAnswer] {
        httplib::Client other(kLoopback, Port());
        const auto answer = other.Put(std::string(kApi) + "setccdtemperature", "SetCCDTemperature=-5",
                                      "application/x-www-form-urlencoded");
        finishedAtAnswer = ReadsOnTheBus().finished;
        EXPECT_TRUE(answer && json::parse(answer->body).at("ErrorNumber") == 0);
    });
    std::vector<int> percents;
    bool ready = false;
    for (int poll = 0; poll < kDownloadPolls && !ready; ++poll) {
        const Answer state = Get("camerastate");
        const Answer percent = Get("percentcompleted");
        ready = Get("imageready").Value().get<bool>();
        if (ready) {
            EXPECT_EQ(ReadsOnTheBus().finished, kHeldReads) << "ImageReady before the last read was in";
        }
        if (!ready && state.Value() == kStateDownload) percents.push_back(percent.Value());
        if (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    acting.join();
    ReleaseTheDownload();
    EXPECT_TRUE(ready);
    EXPECT_LT(atAction.finished, kHeldReads);  // asked during the download,
    EXPECT_EQ(finishedAtAnswer, kHeldReads);   // answered after it
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_TRUE(std::any_of(percents.begin(), percents.end(), [](int p) { return p > 0 && p < 100; }));
    EXPECT_EQ(Get("camerastate").Value(), kStateIdle);
    EXPECT_EQ(Get("percentcompleted").Value(), 100);
    EXPECT_EQ(Get("setccdtemperature").Value(), -5.0);
}

// AbortExposure during the download stops it after the read under way and
// drops the frame (ICameraV4: the camera is Idle again, no image); the next
// exposure works.
TEST_F(AlpacaExposureTest, AbortExposureDuringTheDownloadDropsTheFrame) {
    Connect();
    HoldADownload();
    Set("abortexposure", "");
    const ImageReads reads = ReadsOnTheBus();
    EXPECT_LT(reads.sent, kHeldReads);
    EXPECT_EQ(reads.finished, reads.sent);
    EXPECT_EQ(Get("camerastate").Value(), kStateIdle);
    EXPECT_EQ(Get("imageready").Value(), false);
    EXPECT_EQ(Get("imagearray").Error(), kInvalidOperation);
    ReleaseTheDownload();
    ASSERT_EQ(Put("startexposure", "Duration=0&Light=true").Error(), 0);
    WaitForImage();
    EXPECT_EQ(Get("imageready").Value(), true);
}

// CoolerOn false warms gently: the setpoint starts at the sensor's
// temperature, so the sensor does not jump towards the surroundings.
TEST_F(AlpacaExposureTest, CoolerOffWarmsGently) {
    Connect();
    Cool(-10);
    EXPECT_GT(Get("coolerpower").Value().get<double>(), 0.0);
    Set("cooleron", "CoolerOn=false");
    EXPECT_EQ(Get("cooleron").Value(), false);
    server->Device().Tick();
    Advance(5);
    // An idle setpoint at once would have let it rise 1 C a second.
    EXPECT_LT(Get("ccdtemperature").Value().get<double>(), -9.0);
    // On again: the cooler holds the setpoint.
    Set("cooleron", "CoolerOn=true");
    Advance(30);
    EXPECT_NEAR(Get("ccdtemperature").Value().get<double>(), -10.0, 0.05);
}

// The usual ASCOM shutdown, CoolerOn false then Connected false, is answered
// at once and the warm-up goes on after it: the sensor reaches ambient, the
// cooler idles, and then the camera is free for other programs.
TEST_F(AlpacaExposureTest, DisconnectLetsTheWarmUpFinishThenFreesTheCamera) {
    Connect();
    Cool(-10);
    Set("cooleron", "CoolerOn=false");
    Set("connected", "Connected=false");
    EXPECT_EQ(Get("connected").Value(), false);
    EXPECT_EQ(Get("ccdtemperature").Error(), kNotConnected);
    // 2 C a minute from -10 C: a quarter of an hour on the clock.
    for (int step = 0; step < 200 && server->Device().Status().warmingUp; ++step) {
        Advance(10);
        server->Device().Tick();
    }
    EXPECT_FALSE(server->Device().Status().warmingUp);
    EXPECT_EQ(SimCoolerDrive(), 0U);
    EXPECT_EQ(SimTemperature(), kAmbientTenths);
    ConnectError error = ConnectError::kNone;
    EXPECT_TRUE(Camera::Open(error)) << ConnectErrorText(error);
}

// Reconnecting during that warm-up takes the camera as it is, still warming.
TEST_F(AlpacaExposureTest, ReconnectingDuringTheWarmUpFindsItGoingOn) {
    Connect();
    Cool(-10);
    Set("cooleron", "CoolerOn=false");
    Set("connected", "Connected=false");
    Advance(60);
    server->Device().Tick();  // the setpoint rises 2 C
    Advance(5);
    Connect();
    EXPECT_EQ(Get("cooleron").Value(), false);
    EXPECT_TRUE(server->Device().Status().warmingUp);
    const double warmer = Get("ccdtemperature").Value();
    EXPECT_NEAR(warmer, -8.0, 0.05);
}

// A camera whose readout never ends (NOT READY for ever: its clock stands
// still here) is given up 60 s after the exposure time, with the reason;
// the next exposure works.
TEST_F(AlpacaExposureTest, AReadoutThatNeverEndsIsGivenUp) {
    Connect();
    ASSERT_EQ(Put("startexposure", "Duration=1&Light=true").Error(), 0);
    AdvanceServerClock(1 + 59);
    EXPECT_EQ(Get("camerastate").Value(), kStateReading);
    AdvanceServerClock(2);
    EXPECT_EQ(Get("camerastate").Value(), kStateError);
    EXPECT_EQ(Get("imageready").Value(), false);
    const Answer failed = Get("imagearray");
    EXPECT_EQ(failed.Error(), kInvalidOperation);
    const std::string message = failed.json.value("ErrorMessage", "");
    EXPECT_NE(message.find("did not finish the exposure within 62 s"), std::string::npos) << message;
    EXPECT_NE(message.find("60 s to read out"), std::string::npos) << message;
    EXPECT_NE(message.find("TEST UNIT READY"), std::string::npos) << message;

    ASSERT_EQ(Put("startexposure", "Duration=0&Light=true").Error(), 0);
    WaitForImage();
    EXPECT_EQ(Get("imageready").Value(), true);
}

namespace {

// The simulator's settings both programs get: exposures over at once, the
// sky of one seed (stars, noise, hot pixels) on the sensor.
constexpr char kSameSky[] = "TARNSCSI_SIM=time-scale=0,image=sky,seed=77";

// A binned subframe exposed through the program serving on `port`: its
// ImageBytes answer, or "" with a failure recorded.
std::string ExposeThrough(int port) {
    httplib::Client http(kLoopback, port);
    http.set_read_timeout(std::chrono::seconds(30));
    const auto put = [&http](const std::string& member, const std::string& form) {
        const auto answer = http.Put(kApi + member, form, "application/x-www-form-urlencoded");
        const json value = answer ? json::parse(answer->body, nullptr, false) : json();
        EXPECT_TRUE(value.is_object() && value.value("ErrorNumber", -1) == 0)
            << member << ": " << (answer ? answer->body : "no answer");
    };
    put("connected", "Connected=True");
    for (const auto& [member, form] : {std::pair{"binx", "BinX=2"},
                                       {"biny", "BinY=2"},
                                       {"startx", "StartX=30"},
                                       {"starty", "StartY=12"},
                                       {"numx", "NumX=120"},
                                       {"numy", "NumY=70"}})
        put(member, form);
    put("startexposure", "Duration=0.5&Light=true");
    // Exposure and readout end at once on the simulator's clock; the
    // program still takes its own time to answer, more so under Wine.
    constexpr int kPolls = 3000;
    bool ready = false;
    for (int poll = 0; poll < kPolls && !ready; ++poll) {
        const auto answer = http.Get(std::string(kApi) + "imageready");
        ready = answer && json::parse(answer->body, nullptr, false).value("Value", false);
        if (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(ready) << "no image after " << kPolls << " polls";
    const auto bytes = http.Get(std::string(kApi) + "imagearray?ClientTransactionID=5", {{"Accept", kImageBytes}});
    if (!bytes || bytes->get_header_value("Content-Type") != kImageBytes) {
        ADD_FAILURE() << "imagearray: " << (bytes ? bytes->body : "no answer");
        return {};
    }
    return bytes->body;
}

}  // namespace

// The program of kExternalServerVariable (the Windows program under Wine)
// and this build's program, each over its own simulated camera with the same
// settings, give the same binned subframe: the same ImageBytes header but
// for the server's transaction number, and the same pixels, byte for byte.
TEST(AlpacaProgramsTest, TheOtherProgramGivesThisBuildsPixels) {
    const char* command = std::getenv(kExternalServerVariable);
    if (command == nullptr || *command == '\0') {
        GTEST_SKIP() << "compares the program " << kExternalServerVariable << " names with this build's";
    }
    ExternalServer other;
    ASSERT_EQ(other.Start(std::string("env ") + kSameSky + " " + command), "");
    // This build's program over this build's simulator, sharing nothing.
    ExternalServer ours;
    ASSERT_EQ(ours.Start(std::string("env -u TARNSCSI_SIMULATOR TARNSCSI_SIM_STATE=private ") + kSameSky +
                         " " TARNSCSI_ALPACA_PROGRAM " --simulate"),
              "");
    const std::string theirs = ExposeThrough(other.port);
    const std::string mine = ExposeThrough(ours.port);

    namespace ib = alpaca::image_bytes;
    constexpr std::size_t kWidth = 120;
    constexpr std::size_t kHeight = 70;
    ASSERT_EQ(mine.size(), ib::kHeaderLength + kWidth * kHeight * 2);
    EXPECT_EQ(LittleEndian32(mine, ib::kDimension1Offset), kWidth);
    EXPECT_EQ(LittleEndian32(mine, ib::kDimension2Offset), kHeight);
    ASSERT_EQ(theirs.size(), mine.size());
    for (const std::size_t field :
         {ib::kMetadataVersionOffset, ib::kErrorNumberOffset, ib::kClientTransactionIdOffset, ib::kDataStartOffset,
          ib::kImageElementTypeOffset, ib::kTransmissionElementTypeOffset, ib::kRankOffset, ib::kDimension1Offset,
          ib::kDimension2Offset, ib::kDimension3Offset})
        EXPECT_EQ(LittleEndian32(theirs, field), LittleEndian32(mine, field)) << "header field at " << field;
    // A frame of one value would match whatever either program did to it.
    const std::string pixels = mine.substr(ib::kHeaderLength);
    std::set<std::uint16_t> values;
    for (std::size_t at = 0; at + 1 < pixels.size(); at += 2)
        values.insert(static_cast<std::uint16_t>(static_cast<unsigned char>(pixels[at]) |
                                                 (static_cast<unsigned char>(pixels[at + 1]) << 8)));
    EXPECT_GE(values.size(), 100U) << "the sky should show noise and stars";
    const std::string otherPixels = theirs.substr(ib::kHeaderLength);
    const auto differ = std::mismatch(pixels.begin(), pixels.end(), otherPixels.begin());
    EXPECT_TRUE(differ.first == pixels.end())
        << "first different byte at " << (differ.first - pixels.begin()) << " of " << pixels.size();
}
