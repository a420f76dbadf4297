// The camera as ASCOM's conformance checker (ConformU) tries it, in its
// order: common members, before any exposure, binning, ranges, the
// setpoint's limits, the members of interface versions 2 and 3, the camera
// idle, an exposure at each binning, refused exposures, then its protocol
// test. Where a rule can be read two ways, the case says which reading is
// taken. The checker's timing rules (reads under 0.1 s, writes and
// StartExposure under 1 s, on a kept-alive connection) are measured by
// bench/alpaca_latency_bench, not asserted here: these tests check that the
// same calls succeed on a kept-alive connection.
#include <chrono>
#include <ctime>
#include <regex>
#include <set>

#include "alpaca_client.h"
#include "image_encoding.h"

using nlohmann::json;
using namespace tarnscsi::alpaca_test;

namespace {

constexpr double kAbsoluteZero = -273.15;
constexpr double kExposureSeconds = 2;
// The checker waits 10 s for each step of an exposure; the camera's clock is
// moved in steps of kStep within that.
constexpr double kStep = 0.25;
constexpr int kStepsIn10Seconds = 40;

class AlpacaConformanceTest : public AlpacaFixture {
protected:
    void SetUp() override {
        AlpacaFixture::SetUp();
        if (HasFatalFailure()) return;  // no server, no client
        client->set_keep_alive(true);   // as the checker and every client
        Connect();
    }
    double Number(const std::string& member) { return Get(member).Value().get<double>(); }
    int Integer(const std::string& member) { return Get(member).Value().get<int>(); }
    // The full frame at `bin`, as the checker sets it before each exposure.
    void FullFrame(int bin) {
        Set("binx", "BinX=" + std::to_string(bin));
        Set("biny", "BinY=" + std::to_string(bin));
        Set("startx", "StartX=0");
        Set("starty", "StartY=0");
        Set("numx", "NumX=" + std::to_string(Integer("cameraxsize") / bin));
        Set("numy", "NumY=" + std::to_string(Integer("cameraysize") / bin));
    }
};

}  // namespace

TEST_F(AlpacaConformanceTest, CommonMembers) {
    EXPECT_GE(Integer("interfaceversion"), 1);
    Set("connected", "Connected=false");
    EXPECT_EQ(Get("connected").Value(), false);  // at once, not after a while
    // Connect and Disconnect finish before they answer: Connecting is false
    // on the first read (the checker allows 5 s).
    for (const char* method : {"connect", "disconnect", "connect"}) {
        Set(method, "");
        EXPECT_EQ(Get("connecting").Value(), false) << method;
    }
    EXPECT_EQ(Get("connected").Value(), true);
    const json actions = Get("supportedactions").Value();  // a copy: the answer is a temporary
    for (const json& name : actions) EXPECT_NE(name.get<std::string>(), "");
    const std::set<std::string> allowed = {"CameraState", "CCDTemperature", "CoolerPower",      "HeatSinkTemperature",
                                           "ImageReady",  "IsPulseGuiding", "PercentCompleted", "TimeStamp"};
    const json state = Get("devicestate").Value();
    EXPECT_FALSE(state.empty());
    for (const json& item : state) EXPECT_TRUE(allowed.contains(item.at("Name").get<std::string>())) << item;
}

TEST_F(AlpacaConformanceTest, BeforeAnyExposure) {
    EXPECT_NE(Get("lastexposureduration").Error(), 0);
    EXPECT_NE(Get("lastexposurestarttime").Error(), 0);
    EXPECT_EQ(Get("imageready").Value(), false);
    EXPECT_NE(Get("imagearray").Error(), 0);
}

TEST_F(AlpacaConformanceTest, BinningAndRanges) {
    const int maxBin = Integer("maxbinx");
    EXPECT_GE(maxBin, 1);
    EXPECT_LE(maxBin, 16);
    EXPECT_EQ(Integer("binx"), 1);
    EXPECT_EQ(Integer("biny"), 1);
    for (const char* axis : {"BinX", "BinY"}) {
        std::string member = axis;
        for (char& c : member) c = static_cast<char>(std::tolower(c));
        EXPECT_EQ(Put(member, std::string(axis) + "=0").Error(), kInvalidValue) << axis;
        EXPECT_EQ(Put(member, std::string(axis) + "=" + std::to_string(maxBin + 1)).Error(), kInvalidValue) << axis;
        for (int bin = 1; bin <= maxBin; ++bin) Set(member, std::string(axis) + "=" + std::to_string(bin));
    }
    Set("binx", "BinX=1");

    const int state = Integer("camerastate");
    EXPECT_GE(state, kStateIdle);
    EXPECT_LE(state, kStateError);
    const int width = Integer("cameraxsize");
    const int height = Integer("cameraysize");
    EXPECT_GE(width, 1);
    EXPECT_GE(height, 1);
    EXPECT_GE(Number("ccdtemperature"), kAbsoluteZero);
    EXPECT_LE(Number("ccdtemperature"), 1000);
    EXPECT_GE(Number("coolerpower"), 0);
    EXPECT_LE(Number("coolerpower"), 100);
    EXPECT_GE(Number("pixelsizex"), 1);
    EXPECT_GE(Number("pixelsizey"), 1);
    // Subframe values are taken by the setters and judged by StartExposure.
    Set("numx", "NumX=" + std::to_string(width / 2));
    Set("numy", "NumY=" + std::to_string(height / 2));
    Set("startx", "StartX=" + std::to_string(width / 2));
    Set("starty", "StartY=" + std::to_string(height / 2));
}

// Read first, limits found by stepping, the first value restored.
TEST_F(AlpacaConformanceTest, SetCcdTemperatureLimits) {
    const Answer first = Get("setccdtemperature");
    ASSERT_EQ(first.Error(), 0) << first.body;
    const double original = first.Value().get<double>();
    EXPECT_GE(original, kAbsoluteZero);
    EXPECT_LE(original, 100);
    Set("setccdtemperature", "SetCCDTemperature=0.0");
    // Reading: "refused before -273.15 / 100" means some value above
    // absolute zero (below 100) is refused while stepping.
    double low = 10;
    while (low > kAbsoluteZero && Put("setccdtemperature", "SetCCDTemperature=" + std::to_string(low)).Error() == 0) {
        low -= 5;
    }
    EXPECT_GT(low, kAbsoluteZero);
    EXPECT_EQ(Put("setccdtemperature", "SetCCDTemperature=" + std::to_string(low)).Error(), kInvalidValue);
    double high = 5;
    while (high < 100 && Put("setccdtemperature", "SetCCDTemperature=" + std::to_string(high)).Error() == 0) {
        high += 5;
    }
    EXPECT_LT(high, 100);
    Set("setccdtemperature", "SetCCDTemperature=" + std::to_string(original));
    EXPECT_EQ(Number("setccdtemperature"), original);
}

TEST_F(AlpacaConformanceTest, MembersOfInterfaceVersionsTwoAndThree) {
    const double minimum = Number("exposuremin");
    const double maximum = Number("exposuremax");
    const double resolution = Number("exposureresolution");
    EXPECT_GE(minimum, 0);
    EXPECT_GT(maximum, minimum);
    EXPECT_GE(resolution, 0);
    EXPECT_LT(resolution, maximum);
    ASSERT_EQ(Get("canfastreadout").Value(), false);
    EXPECT_EQ(Get("fastreadout").Error(), kNotImplemented);
    EXPECT_EQ(Put("fastreadout", "FastReadout=true").Error(), kNotImplemented);
    // Gain and offset: not implemented at all (the checker's other two
    // modes, a list of names or a range, are one implemented member each).
    for (const std::string what : {"gain", "offset"}) {
        for (const std::string suffix : {"", "min", "max", "s"}) {
            EXPECT_EQ(Get(what + suffix).Error(), kNotImplemented) << what + suffix;
        }
        std::string name = what;
        name[0] = static_cast<char>(std::toupper(name[0]));
        EXPECT_EQ(Put(what, name + "=1").Error(), kNotImplemented) << what;
    }
    const json modes = Get("readoutmodes").Value();
    ASSERT_FALSE(modes.empty());
    EXPECT_LT(Integer("readoutmode"), static_cast<int>(modes.size()));
    EXPECT_TRUE(Get("sensorname").Value().is_string());
    const Answer percent = Get("percentcompleted");
    if (percent.Error() == 0) {
        EXPECT_GE(percent.Value().get<int>(), 0);
        EXPECT_LE(percent.Value().get<int>(), 100);
    } else {
        EXPECT_EQ(percent.Error(), kInvalidOperation);
    }
}

TEST_F(AlpacaConformanceTest, WhileIdle) {
    ASSERT_EQ(Get("canabortexposure").Value(), true);
    Set("abortexposure", "");
    ASSERT_EQ(Get("canstopexposure").Value(), false);
    EXPECT_NE(Put("stopexposure").Error(), 0);
    ASSERT_EQ(Get("canpulseguide").Value(), false);
    EXPECT_NE(Put("pulseguide", "Direction=0&Duration=10").Error(), 0);
}

// At each binning, a full frame of 2 s, followed as the checker does (its
// 10 s waits are steps of the camera's clock here).
TEST_F(AlpacaConformanceTest, StartExposureAtEachBinning) {
    const std::regex utc(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}(\.\d+)?)");
    for (int bin = 1; bin <= Integer("maxbinx"); ++bin) {
        FullFrame(bin);
        // It answers before the exposure ends: the camera's clock has not moved.
        Set("startexposure", "Duration=2&Light=true");
        const auto seen = std::chrono::system_clock::now();
        EXPECT_EQ(Integer("camerastate"), kStateExposing) << bin;
        double elapsed = 0;
        bool ready = false;
        for (int step = 0; step < kStepsIn10Seconds && !ready; ++step) {
            Advance(kStep);
            elapsed += kStep;
            ready = Get("imageready").Value().get<bool>();
            EXPECT_TRUE(elapsed >= kExposureSeconds || !ready) << "early at " << elapsed << " s, bin " << bin;
        }
        ASSERT_TRUE(ready) << bin;
        EXPECT_EQ(Integer("camerastate"), kStateIdle) << bin;
        EXPECT_NEAR(Number("lastexposureduration"), kExposureSeconds, kExposureSeconds * 0.02) << bin;
        const std::string start = Get("lastexposurestarttime").Value();
        ASSERT_TRUE(std::regex_match(start, utc)) << start;
        std::tm parts{};
        ASSERT_TRUE(strptime(start.c_str(), "%Y-%m-%dT%H:%M:%S", &parts)) << start;
        const auto started = std::chrono::system_clock::from_time_t(timegm(&parts));
        EXPECT_LT(std::chrono::abs(started - seen), std::chrono::seconds(2)) << start;
        const Answer array = Get("imagearray");
        ASSERT_EQ(array.Error(), 0);
        EXPECT_EQ(array.json.at("Type"), 2);  // Int32
        EXPECT_EQ(array.json.at("Rank"), 2);
        ASSERT_EQ(array.Value().size(), static_cast<std::size_t>(Integer("numx"))) << bin;
        EXPECT_EQ(array.Value().at(0).size(), static_cast<std::size_t>(Integer("numy"))) << bin;
    }
}

// Refused with InvalidValue (not InvalidOperation): a negative duration,
// and at each binning a frame one pixel past the sensor each way.
TEST_F(AlpacaConformanceTest, StartExposureRefusals) {
    EXPECT_EQ(Put("startexposure", "Duration=-1&Light=true").Error(), kInvalidValue);
    for (int bin = 1; bin <= Integer("maxbinx"); ++bin) {
        const std::string wide = std::to_string(Integer("cameraxsize") / bin + 1);
        const std::string high = std::to_string(Integer("cameraysize") / bin + 1);
        const std::pair<const char*, std::string> cases[] = {{"numx", "NumX=" + wide},
                                                             {"numy", "NumY=" + high},
                                                             {"startx", "StartX=" + wide},
                                                             {"starty", "StartY=" + high}};
        for (const auto& [member, form] : cases) {
            FullFrame(bin);
            Set(member, form);
            EXPECT_EQ(Put("startexposure", "Duration=0.1&Light=true").Error(), kInvalidValue) << bin << " " << form;
        }
    }
}

// Every Can* and property read, every write, StartExposure and
// AbortExposure succeed on one kept-alive connection (their times: see the
// file's head).
TEST_F(AlpacaConformanceTest, CallsOnAKeptAliveConnection) {
    for (const char* member : {"canabortexposure",
                               "canasymmetricbin",
                               "canfastreadout",
                               "cangetcoolerpower",
                               "canpulseguide",
                               "cansetccdtemperature",
                               "canstopexposure",
                               "camerastate",
                               "cameraxsize",
                               "cameraysize",
                               "ccdtemperature",
                               "cooleron",
                               "coolerpower",
                               "exposuremax",
                               "exposuremin",
                               "exposureresolution",
                               "hasshutter",
                               "imageready",
                               "maxadu",
                               "maxbinx",
                               "maxbiny",
                               "numx",
                               "numy",
                               "percentcompleted",
                               "pixelsizex",
                               "pixelsizey",
                               "readoutmode",
                               "readoutmodes",
                               "sensorname",
                               "sensortype",
                               "setccdtemperature",
                               "startx",
                               "starty"}) {
        EXPECT_EQ(Get(member).Error(), 0) << member;
    }
    for (const auto& [member, form] :
         std::initializer_list<std::pair<const char*, const char*>>{{"binx", "BinX=1"},
                                                                    {"numx", "NumX=768"},
                                                                    {"startx", "StartX=0"},
                                                                    {"cooleron", "CoolerOn=false"},
                                                                    {"setccdtemperature", "SetCCDTemperature=0"},
                                                                    {"startexposure", "Duration=1&Light=true"},
                                                                    {"abortexposure", ""}}) {
        Set(member, form);
    }
}

// The checker's protocol test; transaction IDs and parameter names are
// AlpacaServerTest.TransactionIdsAndParameterNames.
TEST_F(AlpacaConformanceTest, Protocol) {
    // Reading: the checker takes any 4xx; we answer 404 for what is not
    // here (405 for a verb a member does not take).
    for (const char* path :
         {"/api/v1/CAMERA/0/description", "/api/v1/telescope/0/description", "/api/v1/camera/-1/description",
          "/api/v1/camera/99999/description", "/api/v1/camera/A/description", "/api/v1/camera/0/nosuchmethod"}) {
        const Answer answer = Raw(path);
        EXPECT_GE(answer.status, 400) << path;
        EXPECT_LT(answer.status, 500) << path;
    }
    // A form name in other case is not the parameter: 400, as for one missing.
    EXPECT_EQ(Put("connected", "cONNECTED=true").status, 400);
    for (const char* bad : {"", "123456", "asdqwe"}) {
        EXPECT_EQ(Put("connected", std::string("Connected=") + bad).status, 400) << bad;
    }
    // Reading: a value that is not a number is malformed (400); a number
    // out of range is InvalidValue.
    EXPECT_EQ(Put("binx", "BinX=asdqwe").status, 400);
    EXPECT_EQ(Put("binx", "BinX=99").Error(), kInvalidValue);

    const Answer value = Get("name", "ClientID=1&ClientTransactionID=12");
    std::set<std::string> names;
    for (const auto& [name, item] : value.json.items()) names.insert(name);
    EXPECT_EQ(names, (std::set<std::string>{"ClientTransactionID", "ServerTransactionID", "ErrorNumber", "ErrorMessage",
                                            "Value"}));
    EXPECT_EQ(value.json.at("ClientTransactionID"), 12);
    EXPECT_GE(value.json.at("ServerTransactionID").get<std::int64_t>(), 1);

    Set("startexposure", "Duration=0&Light=true");
    for (int step = 0; step < kStepsIn10Seconds && !Get("imageready").Value().get<bool>(); ++step) Advance(kStep);
    const Answer bytes = Get("imagearray", "", tarnscsi::alpaca::image_bytes::kMediaType);
    ASSERT_GE(bytes.body.size(), tarnscsi::alpaca::image_bytes::kMetadataVersionOffset + 4);
    EXPECT_EQ(LittleEndian32(bytes.body, tarnscsi::alpaca::image_bytes::kMetadataVersionOffset), 1U);
}
