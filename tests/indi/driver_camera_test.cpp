// What only our driver does: it reports the camera's own sensor, refuses
// frames and binnings the camera cannot take (INDI's simulator takes
// anything), records the subframe origin, names the command and what the
// camera said whenever the camera fails, shows the module's message when the
// camera cannot be opened, and with DEBUG on shows every command it sends.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <tuple>

#include "session.h"

namespace tarnscsi::indi_test {
namespace {

class OurCamera : public ::testing::Test {
protected:
    void TearDown() override {
        if (HasFailure()) std::cout << session.Diagnostics();
    }

    // Starts our driver, with these items added to the simulator's settings.
    void Connect(const std::string& simulatorSettings = "") {
        std::string error;
        ASSERT_TRUE(session.Open(OurDriver(kCameraTimeScale, simulatorSettings), error)) << error;
        ASSERT_TRUE(session.ConnectDevice(session.Device(), error)) << error << "\n" << session.Diagnostics();
    }

    using Values = std::vector<std::pair<std::string, double>>;

    static bool Holds(const PropertyCopy& copy, const Values& values) {
        for (const auto& [name, value] : values) {
            if (copy.Number(name) != value) return false;
        }
        return true;
    }

    // Sends the numbers; true when the driver takes them: the property turns
    // OK with these values.
    bool Accepted(const std::string& property, const Values& values) {
        session.client.ForgetStates(session.Device(), property);
        session.client.SendNumbers(session.Device(), property, values);
        return session.client.WaitUntil([&](const Received& r) {
            const PropertyCopy* copy = r.Find(session.Device(), property);
            return copy != nullptr && !copy->states.empty() && copy->state == IPS_OK && Holds(*copy, values);
        });
    }

    // Sends the numbers; true when the driver refuses them: its answer is an
    // alert that leaves the values as they were.
    bool Refused(const std::string& property, const Values& values) {
        const auto before = session.client.Property(session.Device(), property);
        session.client.ForgetStates(session.Device(), property);
        session.client.SendNumbers(session.Device(), property, values);
        const bool answered = session.client.WaitUntil([&](const Received& r) {
            const PropertyCopy* copy = r.Find(session.Device(), property);
            return copy != nullptr && !copy->states.empty();
        });
        const auto after = session.client.Property(session.Device(), property);
        if (!answered || !before || !after || after->states.front() != IPS_ALERT) return false;
        for (const auto& element : before->elements) {
            if (after->Number(element.name) != element.value) return false;
        }
        return true;
    }

    bool HasMessage(const std::string& text) {
        return session.client.Snapshot().HasMessageContaining(session.Device(), text);
    }

    bool WaitForMessage(const std::string& text) {
        return session.client.WaitUntil(
            [&](const Received& r) { return r.HasMessageContaining(session.Device(), text); });
    }

    std::size_t CountMessages(const std::string& text) {
        return session.client.Snapshot().CountMessagesContaining(session.Device(), text);
    }

    // The session asks the simulated camera for its test pattern: the
    // unbinned pixel at sensor position (x, y) is ((y * 768 + x) * 40503 +
    // 12345) mod 16384, a binned one the sum of its 2 x 2 cell. Each pixel of
    // the image must hold exactly that for the frame given (origin in
    // unbinned pixels, size in image pixels): the driver put the camera's
    // bytes in the right order and the right place, and the FITS describes
    // the frame they came from.
    static void ExpectPattern(const std::optional<Image>& image, const std::string& error, long originX, long originY,
                              long width, long height, long step) {
        constexpr std::uint32_t kPatternStep = 40503;
        constexpr std::uint32_t kPatternStart = 12345;
        constexpr std::uint32_t kPatternValues = 16384;
        const auto patternAt = [&](long x, long y) {
            return (static_cast<std::uint32_t>(y * 768 + x) * kPatternStep + kPatternStart) % kPatternValues;
        };
        ASSERT_TRUE(image) << error;
        ASSERT_EQ(image->fits.width, width);
        ASSERT_EQ(image->fits.height, height);
        ASSERT_EQ(image->fits.pixels.size(), static_cast<std::size_t>(width * height));
        EXPECT_EQ(image->fits.Number("XBINNING"), step);
        EXPECT_EQ(image->fits.Number("XORGSUBF"), originX / step);
        EXPECT_EQ(image->fits.Number("YORGSUBF"), originY / step);
        std::size_t wrong = 0;
        for (std::size_t n = 0; n < image->fits.pixels.size(); ++n) {
            const long x = originX + step * (static_cast<long>(n) % width);
            const long y = originY + step * (static_cast<long>(n) / width);
            std::uint32_t sum = 0;
            for (long dy = 0; dy < step; ++dy) {
                for (long dx = 0; dx < step; ++dx) {
                    sum += patternAt(x + dx, y + dy);
                }
            }
            const auto expected = static_cast<std::uint16_t>(sum);
            if (image->fits.pixels[n] != expected && wrong++ == 0) {
                ADD_FAILURE() << "pixel " << n << " is " << image->fits.pixels[n] << ", not " << expected;
            }
        }
        EXPECT_EQ(wrong, 0u);
    }

    Session session;
};

TEST_F(OurCamera, ReportsTheSensorAndTheCooler) {
    Connect();
    const auto info = session.client.Property(session.Device(), "CCD_INFO");
    EXPECT_EQ(info->Number("CCD_MAX_X"), 768);
    EXPECT_EQ(info->Number("CCD_MAX_Y"), 512);
    EXPECT_EQ(info->Number("CCD_PIXEL_SIZE"), 9);
    EXPECT_EQ(info->Number("CCD_PIXEL_SIZE_X"), 9);
    EXPECT_EQ(info->Number("CCD_PIXEL_SIZE_Y"), 9);
    EXPECT_EQ(info->Number("CCD_BITSPERPIXEL"), 16);
    // The simulated camera starts at ambient (+20 C) with its cooler off.
    ASSERT_TRUE(session.client.WaitForProperty(session.Device(), "CCD_COOLER_POWER"));
    EXPECT_EQ(session.client.Property(session.Device(), "CCD_TEMPERATURE")->Number("CCD_TEMPERATURE_VALUE"), 20);
    EXPECT_EQ(session.client.Property(session.Device(), "CCD_COOLER_POWER")->Number("CCD_COOLER_VALUE"), 0);
}

TEST_F(OurCamera, RefusesWhatTheCameraCannotTake) {
    Connect();
    // Off the sensor, by a column or a row.
    EXPECT_TRUE(Refused("CCD_FRAME", {{"X", 700}, {"Y", 0}, {"WIDTH", 69}, {"HEIGHT", 10}}));
    EXPECT_TRUE(Refused("CCD_FRAME", {{"X", 0}, {"Y", 500}, {"WIDTH", 10}, {"HEIGHT", 13}}));
    // The last column and row are on it.
    EXPECT_TRUE(Accepted("CCD_FRAME", {{"X", 700}, {"Y", 500}, {"WIDTH", 68}, {"HEIGHT", 12}}));
    // The camera bins 2 x 2 or not at all.
    EXPECT_TRUE(Refused("CCD_BINNING", {{"HOR_BIN", 1}, {"VER_BIN", 2}}));
    EXPECT_TRUE(Refused("CCD_BINNING", {{"HOR_BIN", 3}, {"VER_BIN", 3}}));
    EXPECT_TRUE(Accepted("CCD_BINNING", {{"HOR_BIN", 2}, {"VER_BIN", 2}}));
}

// The header records the origin the camera was sent, in binned pixels.
// A malformed switch message changes nothing, whichever switch it is for:
// an unknown element, two elements On (or none) in a one-of-many switch, an
// element named twice. The property turns Alert with its elements as they
// were; the cooler, on at a setpoint, does not start to warm up. INDI's fast
// exposure is refused the same way: it would start the next exposure while
// the image before it is still being written, with the next one's frame.
TEST_F(OurCamera, MalformedSwitchMessagesAreRefusedAndChangeNothing) {
    Connect();
    session.client.SendNumbers(session.Device(), "CCD_TEMPERATURE", {{"CCD_TEMPERATURE_VALUE", 10}});
    ASSERT_TRUE(session.client.WaitUntil([&](const Received& r) {
        const PropertyCopy* cooler = r.Find(session.Device(), "CCD_COOLER");
        return cooler != nullptr && cooler->Element("COOLER_ON") != nullptr && cooler->Element("COOLER_ON")->on;
    }));
    using States = std::vector<std::pair<std::string, bool>>;
    const std::vector<std::pair<std::string, States>> messages = {
        {"WARM_UP_ON_DISCONNECT", {{"BOGUS", true}}},
        {"WARM_UP_ON_DISCONNECT", {{"ENABLE", true}, {"DISABLE", true}}},
        {"WARM_UP_ON_DISCONNECT", {{"ENABLE", false}}},
        {"CCD_COOLER", {{"COOLER_ON", true}, {"COOLER_OFF", true}}},
        {"CCD_COOLER", {{"COOLER_OFF", true}, {"COOLER_OFF", false}}},
        {"CCD_COOLER", {{"COOLER_OFF", true}, {"COOLER_PAUSE", true}}},
        {"SIMULATION", {{"ENABLE", true}, {"DISABLE", true}}},
        {"CCD_FRAME_TYPE", {{"FRAME_SKY", true}}},
        {"CCD_FAST_TOGGLE", {{"INDI_ENABLED", true}, {"INDI_DISABLED", false}}},
    };
    for (const auto& message : messages) {
        const std::string& property = message.first;
        const States& states = message.second;
        SCOPED_TRACE(property + " " + states.front().first);
        const auto before = session.client.Property(session.Device(), property);
        ASSERT_TRUE(before);
        session.client.ForgetStates(session.Device(), property);
        session.client.SendSwitches(session.Device(), property, states);
        ASSERT_TRUE(session.client.WaitUntil([&](const Received& r) {
            const PropertyCopy* copy = r.Find(session.Device(), property);
            return copy != nullptr && !copy->states.empty();
        }));
        const auto after = session.client.Property(session.Device(), property);
        EXPECT_EQ(after->states.front(), IPS_ALERT);
        for (const auto& element : before->elements) {
            EXPECT_EQ(after->Element(element.name)->on, element.on) << element.name;
        }
    }
    EXPECT_FALSE(HasMessage("warming the sensor up"));
    EXPECT_TRUE(HasMessage("unchanged: 'BOGUS' is not one of its elements"));
    EXPECT_TRUE(HasMessage("Fast exposure unchanged: this driver starts each exposure when a client asks for it"));
}

// The header records the origin in binned pixels: with 2 x 2 binning an odd
// origin is refused, whichever comes first, frame or binning.
TEST_F(OurCamera, OddBinnedFrameLosesItsLastColumnAndRowAndAnOddOriginIsRefused) {
    Connect();
    ASSERT_TRUE(Accepted("CCD_BINNING", {{"HOR_BIN", 2}, {"VER_BIN", 2}}));
    EXPECT_TRUE(Refused("CCD_FRAME", {{"X", 101}, {"Y", 50}, {"WIDTH", 301}, {"HEIGHT", 201}}));
    EXPECT_TRUE(HasMessage("Frame refused: with 2x2 binning the origin (101, 50) must be a multiple of 2"));
    ASSERT_TRUE(Accepted("CCD_FRAME", {{"X", 100}, {"Y", 50}, {"WIDTH", 301}, {"HEIGHT", 201}}));
    std::string error;
    const auto image = session.Expose(1.0, error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(image->fits.width, 150);
    EXPECT_EQ(image->fits.height, 100);
    EXPECT_EQ(image->fits.Number("XORGSUBF"), 50.0);
    EXPECT_EQ(image->fits.Number("YORGSUBF"), 25.0);

    ASSERT_TRUE(Accepted("CCD_BINNING", {{"HOR_BIN", 1}, {"VER_BIN", 1}}));
    ASSERT_TRUE(Accepted("CCD_FRAME", {{"X", 100}, {"Y", 51}, {"WIDTH", 301}, {"HEIGHT", 201}}));
    ASSERT_TRUE(Accepted("CCD_BINNING", {{"HOR_BIN", 2}, {"VER_BIN", 2}}));
    EXPECT_FALSE(session.Expose(1.0, error));
    EXPECT_TRUE(HasMessage("Exposure refused: with 2x2 binning the origin (100, 51) must be a multiple of 2"));
}

TEST_F(OurCamera, PixelsArriveAsTheCameraReadsThemOut) {
    Connect();
    std::string error;
    ASSERT_TRUE(Accepted("CCD_FRAME", {{"X", 10}, {"Y", 20}, {"WIDTH", 64}, {"HEIGHT", 48}}));
    ExpectPattern(session.Expose(0.1, error), error, 10, 20, 64, 48, 1);
    ASSERT_TRUE(Accepted("CCD_BINNING", {{"HOR_BIN", 2}, {"VER_BIN", 2}}));
    ExpectPattern(session.Expose(0.1, error), error, 10, 20, 32, 24, 2);
}

// INDI builds the FITS after the exposure: a frame or binning a client
// changes meanwhile is for the next exposure, and the image is the frame
// the camera read, header and pixels. Both ways: to a smaller frame (the
// image would be cut from the wrong place) and to a larger one with 2 x 2
// binning (the image would be read past the end of what the camera sent).
TEST_F(OurCamera, FrameAndBinningChangedDuringAnExposureAreForTheNextOne) {
    Connect();
    std::string error;
    ASSERT_TRUE(session.BeginExposure(1.0));
    ASSERT_TRUE(Accepted("CCD_FRAME", {{"X", 10}, {"Y", 20}, {"WIDTH", 100}, {"HEIGHT", 100}}));
    EXPECT_TRUE(
        WaitForMessage("Frame changed during the exposure: the next exposure takes 100 x 100 at (10, 20), "
                       "1x1 binning; the one under way keeps 768 x 512 at (0, 0), 1x1 binning."));
    ExpectPattern(session.FinishExposure(error), error, 0, 0, 768, 512, 1);

    ASSERT_TRUE(session.BeginExposure(1.0));
    ASSERT_TRUE(Accepted("CCD_FRAME", {{"X", 0}, {"Y", 0}, {"WIDTH", 768}, {"HEIGHT", 512}}));
    ASSERT_TRUE(Accepted("CCD_BINNING", {{"HOR_BIN", 2}, {"VER_BIN", 2}}));
    EXPECT_TRUE(WaitForMessage("Binning changed during the exposure"));
    ExpectPattern(session.FinishExposure(error), error, 10, 20, 100, 100, 1);

    ExpectPattern(session.Expose(0.1, error), error, 0, 0, 384, 256, 2);
}

// A client may send "nan", which passes INDI's own range checks, or a value
// INDI would show rounded. Each is refused as given, the property an alert
// with its values as they were; the camera is sent nothing.
TEST_F(OurCamera, RefusesNumbersThatAreNotNumbersAndShowsThemAsGiven) {
    Connect();
    const double notANumber = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    const std::vector<std::tuple<std::string, Values, std::string>> cases = {
        {"CCD_EXPOSURE", {{"CCD_EXPOSURE_VALUE", notANumber}}, "CCD_EXPOSURE_VALUE is nan, not a number."},
        {"CCD_TEMPERATURE", {{"CCD_TEMPERATURE_VALUE", notANumber}}, "CCD_TEMPERATURE_VALUE is nan, not a number."},
        {"CCD_TEMP_RAMP", {{"RAMP_SLOPE", notANumber}, {"RAMP_THRESHOLD", 1}}, "RAMP_SLOPE is nan, not a number."},
        {"CCD_TEMP_RAMP",
         {{"RAMP_SLOPE", 30.0000001}, {"RAMP_THRESHOLD", 1}},
         "RAMP_SLOPE must be from 0 to 30, not 30.0000001."},
        {"CCD_FRAME", {{"X", 0}, {"Y", notANumber}, {"WIDTH", 10}, {"HEIGHT", 10}}, "Y is nan, not a number."},
        {"CCD_FRAME", {{"X", 10.5}, {"Y", 0}, {"WIDTH", 10}, {"HEIGHT", 10}}, "X is 10.5, not a whole number."},
        {"CCD_BINNING", {{"HOR_BIN", infinity}, {"VER_BIN", 1}}, "HOR_BIN is inf, not a finite number."},
        {"READOUT_ALLOWANCE", {{"SECONDS", 0.99}}, "SECONDS must be from 1 to 3600, not 0.99."},
    };
    for (const auto& [property, values, message] : cases) {
        SCOPED_TRACE(message);
        EXPECT_TRUE(Refused(property, values));
        EXPECT_TRUE(WaitForMessage("(" + property + ") unchanged: " + message));
    }
    // Each still works. A frame and a binning were refused: the exposure
    // waits for one the camera takes, which a frame reset gives.
    EXPECT_TRUE(Accepted("CCD_TEMP_RAMP", {{"RAMP_SLOPE", 3}, {"RAMP_THRESHOLD", 1}}));
    std::string error;
    EXPECT_FALSE(session.Expose(0.1, error));
    EXPECT_TRUE(HasMessage("Exposure refused: the last frame asked for (X=10.5 Y=0 WIDTH=10 HEIGHT=10) was refused"));
    session.client.SendSwitchOn(session.Device(), "CCD_FRAME_RESET", "RESET");
    ASSERT_TRUE(session.client.WaitForState(session.Device(), "CCD_FRAME_RESET", IPS_OK));
    EXPECT_TRUE(session.Expose(0.1, error)) << error;
}

// Ekos does not look at CCD_FRAME's state: were a refused frame followed by
// an exposure of the frame before, it would save that image as the frame it
// asked for. So the exposure fails, naming the refused frame, until the
// camera is given a frame it takes; then it is that frame.
TEST_F(OurCamera, AfterARefusedFrameExposuresFailUntilAFrameIsTaken) {
    Connect();
    ASSERT_TRUE(Accepted("CCD_BINNING", {{"HOR_BIN", 2}, {"VER_BIN", 2}}));
    const std::vector<std::pair<Values, std::string>> refused = {
        {{{"X", 101}, {"Y", 51}, {"WIDTH", 400}, {"HEIGHT", 300}}, "X=101 Y=51 WIDTH=400 HEIGHT=300"},
        {{{"X", 700}, {"Y", 0}, {"WIDTH", 400}, {"HEIGHT", 100}}, "X=700 Y=0 WIDTH=400 HEIGHT=100"},
    };
    for (const auto& [frame, shown] : refused) {
        SCOPED_TRACE(shown);
        EXPECT_TRUE(Refused("CCD_FRAME", frame));
        std::string error;
        EXPECT_FALSE(session.Expose(0.1, error));
        EXPECT_EQ(session.client.Property(session.Device(), "CCD_EXPOSURE")->state, IPS_ALERT);
        EXPECT_TRUE(HasMessage("Exposure refused: the last frame asked for (" + shown +
                               ") was refused, and no other "
                               "frame is exposed in its place"));
    }
    EXPECT_EQ(session.client.Snapshot().BlobCount(session.Device()), 0u);
    ASSERT_TRUE(Accepted("CCD_FRAME", {{"X", 100}, {"Y", 50}, {"WIDTH", 400}, {"HEIGHT", 300}}));
    std::string error;
    ExpectPattern(session.Expose(0.1, error), error, 100, 50, 200, 150, 2);
}

// libindi writes every text a driver takes back to the clients, and fails
// on a message longer than 64 KiB (its heap corrupted, the driver dies): a
// text that long is refused before libindi sees it, and the driver goes on.
TEST_F(OurCamera, TextTooLongForLibindiIsRefusedAndTheDriverGoesOn) {
    Connect();
    const std::string& device = session.Device();
    session.client.ForgetStates(device, "ACTIVE_DEVICES");
    session.client.SendTexts(device, "ACTIVE_DEVICES", {{"ACTIVE_TELESCOPE", std::string(100 * 1024, 'x')}});
    ASSERT_TRUE(session.client.WaitForState(device, "ACTIVE_DEVICES", IPS_ALERT));
    EXPECT_TRUE(
        WaitForMessage("(ACTIVE_DEVICES) unchanged: ACTIVE_TELESCOPE is 102400 bytes long as INDI writes "
                       "it; a text may be 4096 at most."));
    session.client.SendTexts(device, "ACTIVE_DEVICES", {{"ACTIVE_TELESCOPE", "Telescope Simulator"}});
    ASSERT_TRUE(session.client.WaitForState(device, "ACTIVE_DEVICES", IPS_OK));
    EXPECT_EQ(session.client.Property(device, "ACTIVE_DEVICES")->Element("ACTIVE_TELESCOPE")->text,
              "Telescope Simulator");
    std::string error;
    EXPECT_TRUE(session.Expose(0.1, error)) << error;
}

// A camera just powered on answers its first command after INQUIRY with UNIT
// ATTENTION, and this one is reset again before the exposure: the library
// asks again each time, and nobody hears of it.
TEST_F(OurCamera, ACameraJustPoweredOnConnectsAndTakesAFrame) {
    Connect("unit-attention=1,fault=set-window:0:1:unit-attention");
    std::string error;
    const auto image = session.Expose(0.1, error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(image->fits.width, 768);
    EXPECT_FALSE(HasMessage("UNIT ATTENTION"));
    EXPECT_FALSE(HasMessage("Cannot read the camera's temperature"));
}

TEST_F(OurCamera, SetpointTheCameraRefusesIsAnAlert) {
    Connect("fault=mode-select:0:1:check");
    session.client.ForgetStates(session.Device(), "CCD_TEMPERATURE");
    session.client.SendNumbers(session.Device(), "CCD_TEMPERATURE", {{"CCD_TEMPERATURE_VALUE", 0}});
    ASSERT_TRUE(session.client.WaitForState(session.Device(), "CCD_TEMPERATURE", IPS_ALERT));
    EXPECT_TRUE(HasMessage("did not take the setpoint 0.0 C: MODE SELECT(6): CHECK CONDITION"));
    // The camera takes the next one.
    session.client.SendNumbers(session.Device(), "CCD_TEMPERATURE", {{"CCD_TEMPERATURE_VALUE", 19}});
    EXPECT_TRUE(session.client.WaitForState(session.Device(), "CCD_TEMPERATURE", IPS_OK));
}

// A read the camera fails, then one whose data arrive short: each fails
// its exposure with the reason, and no image goes out.
TEST_F(OurCamera, FailedReadFailsTheExposureAndTheNextOneWorks) {
    Connect("fault=read:0:1:check,fault=read:1:1:short");
    for (const char* said : {"READ(10): CHECK CONDITION", "READ(10): host adapter: data overrun or underrun"}) {
        std::string error;
        EXPECT_FALSE(session.Expose(0.1, error));
        EXPECT_EQ(session.client.Property(session.Device(), "CCD_EXPOSURE")->state, IPS_ALERT);
        EXPECT_TRUE(HasMessage("Exposure failed: download failed: "));
        EXPECT_TRUE(HasMessage(said)) << said;
        EXPECT_FALSE(HasMessage("did not start")) << "SCAN went well";
        EXPECT_EQ(session.client.Snapshot().BlobCount(session.Device()), 0u);
    }

    std::string error;
    const auto image = session.Expose(0.1, error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(image->fits.width, 768);
}

TEST_F(OurCamera, RefusedWindowNamesSetWindowAndTheNextExposureWorks) {
    Connect("fault=set-window:0:1:check");
    std::string error;
    EXPECT_FALSE(session.Expose(0.1, error));
    EXPECT_EQ(session.client.Property(session.Device(), "CCD_EXPOSURE")->state, IPS_ALERT);
    EXPECT_TRUE(
        HasMessage("Exposure refused: the camera refused the exposure (768 x 512 at (0, 0), 100 ms): SET WINDOW: CHECK "
                   "CONDITION"));

    const auto image = session.Expose(0.1, error);
    EXPECT_TRUE(image) << error;
}

// The camera may end SCAN badly and expose all the same, so the driver only
// warns; when no image comes, the failure says the exposure did not start.
// The simulated camera starts nothing when SCAN fails: its READ then finds
// no image.
TEST_F(OurCamera, FailedScanIsWarnedAndNamedWhenNoImageComes) {
    Connect("fault=scan:0:1:check");
    std::string error;
    EXPECT_FALSE(session.Expose(0.1, error));
    EXPECT_TRUE(HasMessage("did not confirm the start of the exposure (SCAN: CHECK CONDITION"));
    EXPECT_TRUE(HasMessage("Exposure failed: the exposure did not start: SCAN: CHECK CONDITION"));
    EXPECT_TRUE(HasMessage("from an earlier exposure and none was read"));

    const auto image = session.Expose(0.1, error);
    EXPECT_TRUE(image) << error;
}

// Three polls in a row cannot read the cooling: one warning naming the
// command, the temperature an alert; then the reading comes back.
TEST_F(OurCamera, CoolingOutageIsReportedOncePerStreak) {
    // The connection's own reading goes through; the next three polls fail.
    Connect("fault=mode-sense:1:3:check");
    ASSERT_TRUE(WaitForMessage("can be read again"));
    EXPECT_EQ(CountMessages("Cannot read the camera's temperature"), 1u);
    EXPECT_TRUE(HasMessage("Cannot read the camera's temperature: MODE SENSE(6): CHECK CONDITION"));
    // The driver says so before it sends the temperature's state.
    EXPECT_TRUE(session.client.WaitUntil([&](const Received& r) {
        const PropertyCopy* temperature = r.Find(session.Device(), "CCD_TEMPERATURE");
        return temperature != nullptr && temperature->state != IPS_ALERT;
    }));
    const auto temperature = session.client.Property(session.Device(), "CCD_TEMPERATURE");
    EXPECT_NE(std::find(temperature->states.begin(), temperature->states.end(), IPS_ALERT), temperature->states.end());
}

// With DEBUG on and the driver's debug level chosen, every command appears
// in the client's messages; with DEBUG off, none does.
TEST_F(OurCamera, DebugShowsEveryCommandTheCameraIsSent) {
    Connect();
    session.client.SendSwitchOn(session.Device(), "DEBUG", "ENABLE");
    ASSERT_TRUE(session.client.WaitForProperty(session.Device(), "DEBUG_LEVEL"));
    session.client.SendSwitchOn(session.Device(), "DEBUG_LEVEL", "DBG_DEBUG");

    // The timer reads the cooling; an exposure sends the window.
    EXPECT_TRUE(WaitForMessage("MODE SENSE(6) "));
    std::string error;
    ASSERT_TRUE(session.Expose(0.1, error)) << error;
    EXPECT_TRUE(HasMessage("SET WINDOW "));
    EXPECT_TRUE(HasMessage("READ(10) "));
    session.client.SendNumbers(session.Device(), "CCD_TEMPERATURE", {{"CCD_TEMPERATURE_VALUE", 19}});
    ASSERT_TRUE(WaitForMessage("Cooling to 19.0 C"));
    EXPECT_TRUE(HasMessage("MODE SELECT(6) "));

    // Off again: the next setpoint's command leaves no line before its
    // confirmation (messages arrive in the order the driver sends them).
    session.client.SendSwitchOn(session.Device(), "DEBUG", "DISABLE");
    ASSERT_TRUE(WaitForMessage("Debug is disabled"));
    const std::size_t traced = CountMessages("MODE SELECT(6) ");
    session.client.SendNumbers(session.Device(), "CCD_TEMPERATURE", {{"CCD_TEMPERATURE_VALUE", 18}});
    ASSERT_TRUE(WaitForMessage("Cooling to 18.0 C"));
    EXPECT_EQ(CountMessages("MODE SELECT(6) "), traced);
}

// TARNSCSI_SIMULATOR names the simulated camera's library by its path; with
// nothing on the library path, the camera is found only through it.
TEST_F(OurCamera, SimulatorVariableChoosesTheSimulatedCamera) {
    std::string error;
    ASSERT_TRUE(session.Open(OurDriverWithSimulatorVariable(SimulatedManagerPath()), error)) << error;
    ASSERT_TRUE(session.ConnectDevice(session.Device(), error)) << error << "\n" << session.Diagnostics();
    EXPECT_TRUE(HasMessage("Camera found on adapter"));
}

TEST_F(OurCamera, SimulatorVariableNamingNoLibraryRefusesToConnect) {
    std::string error;
    ASSERT_TRUE(session.Open(OurDriverWithSimulatorVariable(MissingManagerPath()), error)) << error;
    session.client.SendSwitchOn(session.Device(), "CONNECTION", "CONNECT");
    ASSERT_TRUE(session.client.WaitForState(session.Device(), "CONNECTION", IPS_ALERT));
    EXPECT_TRUE(WaitForMessage("Cannot use the simulated camera (TARNSCSI_SIMULATOR)"));
    EXPECT_FALSE(HasMessage("Missing wnaspi32")) << "no other manager is tried";
}

TEST_F(OurCamera, ConnectFailureShowsTheModuleMessageAndStaysDisconnected) {
    std::string error;
    ASSERT_TRUE(session.Open(OurDriverWithoutManager(), error)) << error;
    const std::string& device = session.Device();
    session.client.SendSwitchOn(device, "CONNECTION", "CONNECT");
    ASSERT_TRUE(session.client.WaitForState(device, "CONNECTION", IPS_ALERT));
    EXPECT_TRUE(session.client.WaitUntil(
        [&](const Received& r) { return r.HasMessageContaining(device, "Missing wnaspi32; "); }));
    const auto connection = session.client.Property(device, "CONNECTION");
    EXPECT_FALSE(connection->Element("CONNECT")->on);
    EXPECT_TRUE(connection->Element("DISCONNECT")->on);
    EXPECT_FALSE(session.client.Property(device, "CCD_EXPOSURE").has_value());
}

}  // namespace
}  // namespace tarnscsi::indi_test