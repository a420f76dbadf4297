// The camera page at / : what the server gives it (no browser needed), and
// the page itself in headless Chromium against the simulated camera on
// 127.0.0.1 and its manual clock. Some run against a server in a process of
// its own too (the Windows program under Wine, kExternalServerVariable).
#include <fitsio.h>
#include <png.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <tarnscsi/camera.h>
#include <thread>

#include "alpaca_client.h"
#include "cooling_history.h"
#include "frame_preview.h"
#include "headless_browser.h"
#include "imaging/png_preview.h"
#include "sim/sim_control.h"

using nlohmann::json;
using namespace tarnscsi;
using namespace tarnscsi::alpaca_test;

namespace {

constexpr std::uint64_t kSeed = 4242;
constexpr char kForm[] = "application/x-www-form-urlencoded";

bool Configured(const std::string& program) {
    return !program.empty() && program.find("NOTFOUND") == std::string::npos;
}

// Those of a server in a process of its own in external/ below.
std::filesystem::path Artefacts() {
    std::filesystem::path folder = TARNSCSI_PAGE_ARTEFACTS;
    if (const char* command = std::getenv(kExternalServerVariable); command != nullptr && *command != '\0')
        folder /= "external";
    std::filesystem::create_directories(folder);
    return folder;
}

// The minimum, median (lower middle), maximum and saturated count of the
// pixels, the plain way.
struct Statistics {
    std::uint16_t minimum = 0;
    std::uint16_t median = 0;
    std::uint16_t maximum = 0;
    std::uint64_t saturated = 0;
};

Statistics StatisticsOf(std::vector<std::uint16_t> pixels) {
    std::sort(pixels.begin(), pixels.end());
    Statistics s;
    s.minimum = pixels.front();
    s.maximum = pixels.back();
    s.median = pixels[(pixels.size() - 1) / 2];
    s.saturated = static_cast<std::uint64_t>(std::count(pixels.begin(), pixels.end(), kMaxPixelValue));
    return s;
}

class CameraPageTest : public AlpacaFixture {
protected:
    void SetUp() override {
        AlpacaFixture::SetUp();
        SimSetImageKind(SIM_IMAGE_SKY);
        SimSetSeed(kSeed);
    }

    // A PUT to one of the page's controls, as the page sends it.
    Answer Control(const std::string& what, const std::string& form) {
        const auto result = client->Put("/page/" + what, form, kForm);
        Answer answer;
        if (!result) return answer;
        answer.status = result->status;
        answer.body = result->body;
        answer.json = json::parse(result->body, nullptr, false);
        return answer;
    }

    // Advances the clock until the frame is in (bounded). A server in a
    // process of its own runs on its camera's clock: polled, pausing.
    void FinishExposure() {
        constexpr int kPolls = 600;
        for (int poll = 0; poll < kPolls && Get("imageready").Value() != true; ++poll) {
            if (external) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            } else {
                Advance(0.25);
            }
        }
        ASSERT_EQ(Get("imageready").Value(), true);
    }
};

// Each test in the browser starts it with a profile of its own, or is
// skipped where the build found no Chromium (never in the presets' builds:
// there its absence stops the configure).
class CameraPageBrowserTest : public CameraPageTest {
protected:
    void SetUp() override {
        CameraPageTest::SetUp();
        const std::string chromium = TARNSCSI_CHROMIUM;
        if (!Configured(chromium)) {
            GTEST_SKIP() << "Chromium was not found when the build was configured (scripts/install-deps.sh alpaca): "
                            "the camera page is not tried in a browser";
        }
        char folder[] = "/tmp/tarnscsi-page-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        profile = folder;
        ASSERT_EQ(browser->Start(chromium, profile), "");
        base = "http://127.0.0.1:" + std::to_string(Port());
    }
    void TearDown() override {
        browser.reset();
        if (!profile.empty()) std::filesystem::remove_all(profile);
        CameraPageTest::TearDown();
    }

    void OpenPage() {
        ASSERT_EQ(browser->Open(base + "/"), "");
        // One round at once, rather than waiting for the page's own poll.
        ASSERT_EQ(browser->Evaluate("tarnscsiPage.refresh().then(() => true)"), true);
    }
    std::string Text(const std::string& id) {
        const json value = browser->Evaluate("document.getElementById('" + id + "').textContent");
        return value.is_string() ? value.get<std::string>() : value.dump();
    }
    void Fill(const std::string& id, const std::string& value) {
        browser->Evaluate("document.getElementById('" + id + "').value = '" + value + "'");
    }
    void Click(const std::string& id) { browser->Evaluate("document.getElementById('" + id + "').click()"); }
    // Presses a control and waits for the server's answer on the page.
    std::string Press(const std::string& id) {
        browser->Evaluate("document.getElementById('message').textContent = ''");
        browser->Evaluate("document.getElementById('" + id + "').click()");
        EXPECT_TRUE(browser->WaitFor("document.getElementById('message').textContent !== ''")) << id;
        return Text("message");
    }
    bool MessageIsError() { return browser->Evaluate("document.getElementById('message').className") == "error"; }

    std::unique_ptr<HeadlessBrowser> browser = std::make_unique<HeadlessBrowser>();
    std::filesystem::path profile;
    std::string base;
};

}  // namespace

// Columns become rows for the imaging library's writers: (x, y) of a 2 x 3 image.
TEST(FramePreviewTest, ColumnsBecomeRows) {
    alpaca::Image image;
    image.width = 2;
    image.height = 3;
    image.columns = {0, 1, 2, 10, 11, 12};
    EXPECT_EQ(alpaca::RowsOf(image).pixels, (std::vector<std::uint16_t>{0, 10, 1, 11, 2, 12}));
}

// An hour of readings, whatever the polling rate: one point per interval,
// the newest always the latest reading, nothing older than an hour, and a
// clock that went back starts again.
TEST(CoolingHistoryTest, ThinsToAnHourOfPoints) {
    alpaca::CoolingHistory history;
    const auto at = [](double seconds) {
        return std::chrono::steady_clock::time_point(std::chrono::milliseconds(static_cast<long long>(seconds * 1000)));
    };
    // Two hours of readings twice a second.
    for (int i = 0; i <= 2 * 3600 * 2; ++i) {
        const std::int32_t tenths = 200 - i / 100;
        history.Add({at(i / 2.0), {tenths, 128}, -10.0});
    }
    const auto points = history.Points();
    ASSERT_GE(points.size(), 300U);
    EXPECT_LE(points.size(), 3600 / alpaca::CoolingHistory::kIntervalSeconds + 2);
    EXPECT_DOUBLE_EQ(points.back().seconds, 3600 * 2);
    EXPECT_DOUBLE_EQ(points.back().temperature, (200 - 2 * 3600 * 2 / 100) / 10.0);
    EXPECT_LE(points.back().seconds - points.front().seconds, alpaca::CoolingHistory::kSpanSeconds);
    for (std::size_t i = 1; i + 1 < points.size(); ++i) {
        EXPECT_GE(points[i].seconds - points[i - 1].seconds, alpaca::CoolingHistory::kIntervalSeconds) << i;
    }
    EXPECT_EQ(points.back().setpoint, -10.0);
    history.Add({at(5), {150, 0}, std::nullopt});
    ASSERT_EQ(history.Points().size(), 1U);
    EXPECT_FALSE(history.Points().front().setpoint);
}

// The page's controls are PUTs through the Host check; other methods and
// unknown controls are refused, and the page's values need the right Host.
TEST_F(CameraPageTest, ControlsAreGuardedLikeTheApi) {
    EXPECT_EQ(Raw("/").status, 200);
    EXPECT_NE(Raw("/").body.find("tarnscsi camera"), std::string::npos);
    EXPECT_EQ(Raw("/setup").status, 200);
    const auto post = client->Post("/page/expose", "Duration=1", kForm);
    ASSERT_TRUE(post);
    EXPECT_NE(post->status, 200);
    EXPECT_EQ(Control("nothing", "").status, 404);
    EXPECT_EQ(Control("expose", "Duration=1&Type=sky").status, 400);
    httplib::Headers elsewhere = {{"Host", "camera.example.net"}};
    const auto foreign = client->Get("/page/status", elsewhere);
    ASSERT_TRUE(foreign);
    EXPECT_EQ(foreign->status, 403);
    const auto control = client->Put("/page/connect", elsewhere, "Connected=true", kForm);
    ASSERT_TRUE(control);
    EXPECT_EQ(control->status, 403);
    EXPECT_EQ(Get("connected").Value(), false);
    // No other site may show the page in a frame of its own (where a click
    // meant for that site would press a control here): not its files, not
    // its answers, nor a refusal.
    for (const auto& [path, headers] : {std::pair{"/", httplib::Headers{}},
                                        {"/page/page.js", {}},
                                        {"/page/status", {}},
                                        {"/setup", {}},
                                        {"/page/status", elsewhere}}) {
        const auto answer = client->Get(path, headers);
        ASSERT_TRUE(answer) << path;
        EXPECT_EQ(answer->get_header_value("Content-Security-Policy"), "frame-ancestors 'none'") << path;
        EXPECT_EQ(answer->get_header_value("X-Frame-Options"), "DENY") << path;
    }
}

// A refused control changes nothing: every value is read and checked before
// any is set, and an exposure under way keeps its frame.
TEST_F(CameraPageTest, RefusedControlsChangeNothing) {
    Connect();
    const std::string type = "Duration=1&Type=light&";
    const std::string frame = "Bin=2&StartX=4&StartY=6&NumX=100&NumY=";
    const struct {
        const char* control;
        std::string form;
        int status;
        const char* shown;  // in the message: the value as given
    } refused[] = {
        {"expose", type + frame, 400, "NumY ''"},
        {"expose", type + frame.substr(0, frame.find("&NumY")), 400, "NumY"},
        {"expose", "Duration=nan&Type=light&" + frame + "50", 400, "'nan'"},
        {"expose", "Duration=-inf&Type=light&" + frame + "50", 400, "'-inf'"},
        {"expose", type + "Bin=3&StartX=4&StartY=6&NumX=100&NumY=50", 409, "not 3x3"},
        {"expose", type + "Bin=2&StartX=4&StartY=6&NumX=1000&NumY=50", 409, "NumX 1000"},
        {"cooler", "Setpoint=-5&CoolerOn=maybe", 400, "'maybe'"},
        {"cooler", "Setpoint=infinity&CoolerOn=true", 400, "'infinity'"},
    };
    const double setpoint = Get("setccdtemperature").Value();
    const auto unchanged = [this, setpoint](const std::string& what) {
        EXPECT_EQ(Get("binx").Value(), 1) << what;
        EXPECT_EQ(Get("startx").Value(), 0) << what;
        EXPECT_EQ(Get("starty").Value(), 0) << what;
        EXPECT_EQ(Get("numx").Value(), kSensorWidth) << what;
        EXPECT_EQ(Get("numy").Value(), kSensorHeight) << what;
        EXPECT_EQ(Get("setccdtemperature").Value(), setpoint) << what;
    };
    for (const auto& c : refused) {
        const Answer answer = Control(c.control, c.form);
        EXPECT_EQ(answer.status, c.status) << c.form << ": " << answer.body;
        EXPECT_NE(answer.json.value("message", "").find(c.shown), std::string::npos) << answer.body;
        unchanged(c.form);
    }
    // Under an Alpaca client's exposure the page's is refused, frame and all.
    ASSERT_EQ(Put("startexposure", "Duration=30&Light=true").Error(), 0);
    const Answer busy = Control("expose", type + frame + "50");
    EXPECT_EQ(busy.status, 409);
    EXPECT_NE(busy.json.value("message", "").find("under way"), std::string::npos) << busy.body;
    unchanged("during an exposure");
}

// Each frame is served by its number while the server keeps it (the
// newest, and the one before while the next is taken), with its own type
// and file name; another number is told as such.
TEST_F(CameraPageTest, FramesAreServedByTheirNumberWithTheirOwnTypeAndName) {
    Connect();
    ASSERT_EQ(Control("expose", "Duration=0&Type=bias&Bin=1&StartX=0&StartY=0&NumX=20&NumY=10").status, 200);
    FinishExposure();
    const json first = json::parse(client->Get("/page/frame")->body);
    EXPECT_EQ(first.at("type"), "Bias Frame");
    const std::string firstFits = "/page/frame.fits?frame=" + first.at("id").dump();
    const std::string firstFile = client->Get(firstFits)->body;

    // An Alpaca client's light frame, taken within the same second.
    ASSERT_EQ(Put("startexposure", "Duration=0&Light=true").Error(), 0);
    FinishExposure();
    const auto kept = client->Get(firstFits);
    ASSERT_EQ(kept->status, 200);
    EXPECT_TRUE(kept->body == firstFile);
    const json status = json::parse(client->Get("/page/status")->body);
    const json second = json::parse(client->Get("/page/frame?frame=" + status.at("image").dump())->body);
    EXPECT_NE(second.at("id"), first.at("id"));
    EXPECT_EQ(second.at("type"), "Light Frame");
    EXPECT_NE(second.at("fitsName"), first.at("fitsName"));
    const auto secondFits = client->Get("/page/frame.fits?frame=" + second.at("id").dump());
    EXPECT_FALSE(secondFits->body == firstFile);
    EXPECT_NE(secondFits->get_header_value("Content-Disposition").find(second.at("fitsName").get<std::string>()),
              std::string::npos);
    // The first is no longer kept; a number never given is unknown.
    for (const std::string& gone :
         {firstFits, std::string("/page/frame.png?frame=99"), std::string("/page/frame?frame=x")}) {
        const auto answer = client->Get(gone);
        EXPECT_EQ(answer->status, 404) << gone;
        EXPECT_NE(answer->body.find("there is no frame"), std::string::npos) << answer->body;
    }
}

// The FITS file the page offers: fitsverify accepts it, it has the header
// keywords the tool writes (with the page's frame type), and its pixels are
// the frame's.
TEST_F(CameraPageTest, FitsDownloadIsTheToolsFile) {
    const std::string fitsverify = TARNSCSI_FITSVERIFY;
    if (!Configured(fitsverify)) GTEST_SKIP() << "fitsverify was not found when the build was configured";
    ASSERT_EQ(Control("connect", "Connected=true").json.value("ok", false), true);
    ASSERT_EQ(Control("cooler", "Setpoint=-5&CoolerOn=true").json.value("ok", false), true);
    Advance(60);
    const std::string frame = "Duration=1.5&Bin=2&StartX=10&StartY=20&NumX=100&NumY=60&Type=bias";
    const Answer started = Control("expose", frame);
    ASSERT_EQ(started.json.value("ok", false), true) << started.body;
    FinishExposure();
    const auto fits = client->Get("/page/frame.fits");
    ASSERT_TRUE(fits);
    ASSERT_EQ(fits->status, 200) << fits->body;
    EXPECT_NE(fits->get_header_value("Content-Disposition").find(".fits\""), std::string::npos);
    const std::filesystem::path file = Artefacts() / "page-frame.fits";
    std::ofstream(file, std::ios::binary) << fits->body;
    const std::string command = fitsverify + " -q " + file.string() + " 2>&1";
    std::string verdict;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char chunk[512];
        while (fgets(chunk, sizeof chunk, pipe)) verdict += chunk;
        EXPECT_EQ(pclose(pipe), 0) << verdict;
    }
    EXPECT_NE(verdict.find("verification OK"), std::string::npos) << verdict;

    int status = 0;
    fitsfile* in = nullptr;
    ASSERT_EQ(fits_open_diskfile(&in, file.c_str(), READONLY, &status), 0);
    const auto text = [&](const char* key) {
        char value[FLEN_VALUE] = {};
        int missing = 0;
        fits_read_key(in, TSTRING, key, value, nullptr, &missing);
        EXPECT_EQ(missing, 0) << key;
        return std::string(value);
    };
    const auto number = [&](const char* key) {
        double value = 0;
        int missing = 0;
        fits_read_key(in, TDOUBLE, key, &value, nullptr, &missing);
        EXPECT_EQ(missing, 0) << key;
        return value;
    };
    EXPECT_DOUBLE_EQ(number("EXPTIME"), 1.5);
    EXPECT_EQ(text("DATE-OBS"), Get("lastexposurestarttime").Value().get<std::string>());
    EXPECT_DOUBLE_EQ(number("CCD-TEMP"), -5.0);
    EXPECT_DOUBLE_EQ(number("SET-TEMP"), -5.0);
    EXPECT_EQ(number("XBINNING"), 2);
    EXPECT_EQ(number("YBINNING"), 2);
    EXPECT_EQ(number("XORGSUBF"), 10);
    EXPECT_EQ(number("YORGSUBF"), 20);
    EXPECT_DOUBLE_EQ(number("XPIXSZ"), 18.0);
    EXPECT_DOUBLE_EQ(number("YPIXSZ"), 18.0);
    EXPECT_EQ(text("INSTRUME"), "Nebrix");
    EXPECT_EQ(text("IMAGETYP"), "Bias Frame");
    EXPECT_EQ(text("ROWORDER"), "TOP-DOWN");
    EXPECT_EQ(text("SWCREATE"), "tarnscsi-alpaca test");
    text("DATE");
    long axes[2] = {};
    fits_get_img_size(in, 2, axes, &status);
    ASSERT_EQ(axes[0], 100);
    ASSERT_EQ(axes[1], 60);
    std::vector<std::uint16_t> pixels(100 * 60);
    fits_read_img(in, TUSHORT, 1, static_cast<LONGLONG>(pixels.size()), nullptr, pixels.data(), nullptr, &status);
    fits_close_file(in, &status);
    EXPECT_EQ(status, 0);
    ASSERT_TRUE(server) << "the frame kept is read from the server in this process";
    auto image = std::get<std::shared_ptr<const alpaca::Image>>(server->Device().LastImage());
    EXPECT_EQ(pixels, alpaca::RowsOf(*image).pixels);
}

// The page as a browser loads it: nothing but this server is asked for
// anything; it shows the camera; its weight is told; the theme is
// remembered; it fits a phone's width. Screenshots at a phone's and a
// laptop's width are left in the build tree.
TEST_F(CameraPageBrowserTest, LoadsFromTheServerAloneAndFitsAPhone) {
    Connect();
    OpenPage();
    const std::string origin = base + "/";
    std::uint64_t weight = 0;
    int requests = 0;
    for (const json& event : browser->Events()) {
        const std::string method = event.value("method", "");
        if (method == "Network.requestWillBeSent") {
            const std::string url = event["params"]["request"]["url"];
            ++requests;
            EXPECT_TRUE(url.starts_with(origin) || url.starts_with("data:")) << url;
        }
        if (method == "Network.loadingFinished") {
            weight += static_cast<std::uint64_t>(event["params"].value("encodedDataLength", 0.0));
        }
    }
    EXPECT_GE(requests, 5);  // the page, its script and style, status, cooling
    std::printf("camera page: %d requests, %llu bytes for a full load\n", requests,
                static_cast<unsigned long long>(weight));
    EXPECT_EQ(Text("connected"), "connected");
    EXPECT_NE(Text("identity").find("Nebrix"), std::string::npos);
    EXPECT_EQ(Text("address"), "adapter 0, target 2");
    EXPECT_EQ(Text("state"), "idle");

    std::ofstream(Artefacts() / "page-laptop.png", std::ios::binary) << browser->Screenshot(1280, false);
    std::ofstream(Artefacts() / "page-phone.png", std::ios::binary) << browser->Screenshot(390, true);
    // At a phone's width nothing runs off the side.
    EXPECT_EQ(browser->Evaluate("document.documentElement.scrollWidth <= 390"), true);

    // The night theme, chosen once, is there on the next visit.
    Click("theme");
    ASSERT_EQ(browser->Open(base + "/"), "");
    EXPECT_EQ(browser->Evaluate("document.documentElement.classList.contains('night')"), true);
    std::ofstream(Artefacts() / "page-phone-night.png", std::ios::binary) << browser->Screenshot(390, true);
}

// An exposure started on the page: an Alpaca client sees it under way; once
// in, the page shows its preview (the tool's stretch of it), histogram and
// statistics, which match the same frame taken through the C++ API. A
// server in a process of its own, its exposures over at once
// (TARNSCSI_SIM=time-scale=0), is not cooled first, and its frame is the
// one its ImageArray gives.
TEST_F(CameraPageBrowserTest, ExposureFromThePageShowsItsFrame) {
    Connect();
    OpenPage();
    // A slow cooler, cooled for a while first: the screenshot this test
    // leaves is the one docs/camera-page.png shows.
    if (!external) {
        SimSetCoolerLimits(400, 1);
        Fill("cooler-setpoint", "-15");
        EXPECT_EQ(Press("cooler-set"), "Cooling to the setpoint.");
        for (int step = 0; step < 60; ++step) {
            Advance(10);
            Get("ccdtemperature");
        }
    }
    Fill("expose-duration", "2");
    Fill("expose-bin", "2");
    Click("full-frame");
    Fill("expose-type", "dark");
    // The clock stands still until the exposure has started: the sensor's
    // temperature now is the one at its start.
    const double sensor = Get("ccdtemperature").Value();
    EXPECT_EQ(Press("expose"), "Exposure started.");
    EXPECT_FALSE(MessageIsError());
    if (!external) {
        EXPECT_EQ(Get("camerastate").Value(), 2);  // exposing
    }
    EXPECT_EQ(Get("binx").Value(), 2);
    FinishExposure();
    ASSERT_EQ(browser->Evaluate("tarnscsiPage.refresh().then(() => true)"), true);
    ASSERT_TRUE(browser->WaitFor("!document.getElementById('frame').hidden"));

    const auto png =
        client->Get(browser->Evaluate("document.getElementById('preview').getAttribute('src')").get<std::string>());
    ASSERT_TRUE(png);
    std::ofstream(Artefacts() / "page-frame-laptop.png", std::ios::binary) << browser->Screenshot(1280, false);
    std::ofstream(Artefacts() / "page-frame-phone.png", std::ios::binary) << browser->Screenshot(390, true);

    int width = 0;
    int height = 0;
    std::vector<std::uint16_t> pixels;
    if (external) {
        pixels = RowsOf(Get("imagearray").Value(), width, height);
    } else {
        server->Device().Disconnect();
        pixels = ApiFrame(Frame{0, 0, kSensorWidth, kSensorHeight, kBinned}, 2, kSeed, width, height);
    }
    ASSERT_EQ(width, 384);
    ASSERT_EQ(height, 256);
    const Statistics expected = StatisticsOf(pixels);
    EXPECT_EQ(Text("frame-minimum"), std::to_string(expected.minimum));
    EXPECT_EQ(Text("frame-median"), std::to_string(expected.median));
    EXPECT_EQ(Text("frame-maximum"), std::to_string(expected.maximum));
    EXPECT_EQ(Text("frame-saturated"), std::to_string(expected.saturated));
    EXPECT_EQ(Text("frame-binning"), "2 x 2");
    EXPECT_EQ(Text("frame-window"), "384 x 256 at (0, 0)");
    EXPECT_EQ(Text("frame-exposure"), "2.000 s");
    EXPECT_EQ(Text("frame-type"), "Dark Frame");
    char shown[32];
    std::snprintf(shown, sizeof shown, "%.1f °C", sensor);
    EXPECT_EQ(Text("frame-temperature"), shown);
    EXPECT_FALSE(Text("frame-start").empty());
    EXPECT_EQ(browser->Evaluate("document.getElementById('preview').naturalWidth"), 384);
    EXPECT_EQ(browser->Evaluate("document.getElementById('histogram').dataset.bins"), "128");
    EXPECT_EQ(browser->Evaluate("document.querySelector('#histogram path').getAttribute('d').length > 100"), true);

    // The preview is the tool's stretch of exactly these pixels.
    png_image decoded{};
    decoded.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&decoded, png->body.data(), png->body.size()));
    decoded.format = PNG_FORMAT_GRAY;
    std::vector<std::uint8_t> grey(PNG_IMAGE_SIZE(decoded));
    ASSERT_TRUE(png_image_finish_read(&decoded, nullptr, grey.data(), 0, nullptr));
    EXPECT_EQ(grey, imaging::AutoStretch(imaging::Image16{width, height, pixels}));
}

// The cooler set from the page: an Alpaca client reads the setpoint back;
// after a cool-down on the manual clock the plot has its points.
TEST_F(CameraPageBrowserTest, CoolerFromThePageAndItsPlot) {
    Connect();
    OpenPage();
    Fill("cooler-setpoint", "-12.5");
    EXPECT_EQ(Press("cooler-set"), "Cooling to the setpoint.");
    EXPECT_EQ(Get("setccdtemperature").Value(), -12.5);
    EXPECT_EQ(Get("cooleron").Value(), true);
    // Twenty minutes, read every 15 s as a client would.
    for (int step = 0; step < 80; ++step) {
        Advance(15);
        Get("ccdtemperature");
    }
    ASSERT_EQ(browser->Evaluate("tarnscsiPage.refresh().then(() => true)"), true);
    const int points =
        std::stoi(browser->Evaluate("document.getElementById('cooling-plot').dataset.points").get<std::string>());
    EXPECT_GE(points, 80);
    EXPECT_EQ(browser->Evaluate("document.querySelectorAll('#cooling-plot path.temperature').length"), 1);
    EXPECT_EQ(browser->Evaluate("document.querySelectorAll('#cooling-plot path.setpoint').length"), 1);
    EXPECT_EQ(Text("temperature"), "-12.5 °C");
    EXPECT_EQ(Text("cooler"), "on");

    EXPECT_EQ(Press("cooler-off"), "Warming up gently.");
    EXPECT_EQ(Get("cooleron").Value(), false);
    EXPECT_EQ(Text("cooler"), "warming up");
    std::ofstream(Artefacts() / "page-cooling-laptop.png", std::ios::binary) << browser->Screenshot(1280, false);
}

// A control the camera refuses shows the server's own message: an exposure
// while an Alpaca client's is under way, a setpoint out of range.
TEST_F(CameraPageBrowserTest, RefusedControlShowsTheServersMessage) {
    Connect();
    OpenPage();
    ASSERT_EQ(Put("startexposure", "Duration=30&Light=true").Error(), 0);
    const Answer second = Put("startexposure", "Duration=1&Light=true");
    const std::string refusal = second.json.value("ErrorMessage", "");
    ASSERT_FALSE(refusal.empty());
    EXPECT_EQ(Press("expose"), refusal);
    EXPECT_TRUE(MessageIsError());
    EXPECT_EQ(Text("state"), "exposing");

    EXPECT_EQ(Press("abort"), "Exposure aborted.");
    EXPECT_EQ(Get("camerastate").Value(), 0);

    Fill("cooler-setpoint", "9999");
    EXPECT_EQ(Press("cooler-set"), Put("setccdtemperature", "SetCCDTemperature=9999").json.value("ErrorMessage", "-"));
    EXPECT_TRUE(MessageIsError());
    EXPECT_EQ(Get("setccdtemperature").Value(), 50.0);  // still none asked: the idle setpoint
}
