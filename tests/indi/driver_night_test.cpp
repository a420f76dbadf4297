// What a whole night asks of our driver, through indiserver: the cooler
// switch and its warm-up, a setpoint the cooler cannot reach, warming up on
// disconnect, the SIMULATION switch, the camera's information, the readout
// allowance, the FITS keywords of the camera and its setpoint, and the
// exposure limits. The simulated camera runs at time scale 0 and the
// driver's cooler clock moves by a fixed step at each poll, so every run
// takes the same steps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "session.h"

namespace tarnscsi::indi_test {
namespace {

using namespace std::chrono_literals;

// Each poll counts as half a minute: at the default warm-up rate (2 C per
// minute) the setpoint rises a degree per poll; a stall is seen in two.
constexpr double kSecondsPerPoll = 30;
constexpr double kFastPollMs = 50;
constexpr double kAmbient = 20;  // the simulated camera's surroundings
constexpr auto kCoolerWait = 20s;

class NightTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (HasFailure()) std::cout << session.Diagnostics();
    }

    void Start(const DriverUnderTest& driver) {
        std::string error;
        ASSERT_TRUE(session.Open(driver, error)) << error;
    }

    void Connect(const DriverUnderTest& driver) {
        ASSERT_NO_FATAL_FAILURE(Start(driver));
        std::string error;
        ASSERT_TRUE(session.ConnectDevice(Device(), error)) << error << "\n" << session.Diagnostics();
        session.client.SendNumbers(Device(), "POLLING_PERIOD", {{"PERIOD_MS", kFastPollMs}});
        ASSERT_TRUE(session.client.WaitForState(Device(), "POLLING_PERIOD", IPS_OK));
    }

    const std::string& Device() const { return session.Device(); }

    bool WaitForMessage(const std::string& text, std::chrono::milliseconds wait = kDefaultWait) {
        return session.client.WaitUntil([&](const Received& r) { return r.HasMessageContaining(Device(), text); },
                                        wait);
    }

    // The switch vector shows `element` on, in `state`.
    bool WaitForSwitch(const std::string& property, const std::string& element, IPState state,
                       std::chrono::milliseconds wait = kDefaultWait) {
        return session.client.WaitUntil(
            [&](const Received& r) {
                const PropertyCopy* copy = r.Find(Device(), property);
                return copy != nullptr && copy->state == state && copy->Element(element) != nullptr &&
                       copy->Element(element)->on;
            },
            wait);
    }

    double Temperature() {
        return session.client.Property(Device(), "CCD_TEMPERATURE")->Number("CCD_TEMPERATURE_VALUE");
    }

    // Waits until the temperature is reported OK at `celsius`.
    bool WaitForTemperature(double celsius) {
        return session.client.WaitUntil(
            [&](const Received& r) {
                const PropertyCopy* copy = r.Find(Device(), "CCD_TEMPERATURE");
                return copy != nullptr && copy->state == IPS_OK && copy->Number("CCD_TEMPERATURE_VALUE") == celsius;
            },
            kCoolerWait);
    }

    // Sets the temperature and waits until it is reached (the camera's
    // cooling is instant).
    void CoolTo(double celsius) {
        session.client.ForgetStates(Device(), "CCD_TEMPERATURE");
        session.client.SendNumbers(Device(), "CCD_TEMPERATURE", {{"CCD_TEMPERATURE_VALUE", celsius}});
        ASSERT_TRUE(WaitForTemperature(celsius));
        ASSERT_TRUE(WaitForSwitch("CCD_COOLER", "COOLER_ON", IPS_OK));
    }

    // Turns the cooler off and waits for the warm-up to end; returns the
    // temperatures reported meanwhile.
    std::vector<double> WarmUp() {
        session.client.ForgetStates(Device(), "CCD_TEMPERATURE");
        session.client.SendSwitchOn(Device(), "CCD_COOLER", "COOLER_OFF");
        EXPECT_TRUE(WaitForSwitch("CCD_COOLER", "COOLER_OFF", IPS_OK, kCoolerWait));
        return session.client.Property(Device(), "CCD_TEMPERATURE")->firstValues;
    }

    Session session;
};

// The temperatures must climb without a step back, through the degrees
// between, at most `stepPerPoll` at a time, and end at ambient.
void ExpectGentleClimb(const std::vector<double>& temperatures, double from, double stepPerPoll) {
    ASSERT_FALSE(temperatures.empty());
    EXPECT_TRUE(std::is_sorted(temperatures.begin(), temperatures.end()));
    double previous = from;
    for (const double t : temperatures) {
        EXPECT_LE(t - previous, stepPerPoll + 0.05) << "a jump from " << previous << " to " << t;
        previous = t;
    }
    EXPECT_EQ(temperatures.back(), kAmbient);
    EXPECT_GT(
        std::count_if(temperatures.begin(), temperatures.end(), [&](double t) { return t > from && t < kAmbient; }), 2);
}

TEST_F(NightTest, CoolerOffWarmsUpGentlyToAmbientAndOnReturnsToTheSetpoint) {
    ASSERT_NO_FATAL_FAILURE(Connect(OurSteppedDriver(kSecondsPerPoll)));
    // The simulated camera starts with its cooler off.
    ASSERT_TRUE(WaitForSwitch("CCD_COOLER", "COOLER_OFF", IPS_IDLE));
    // Off when already off: nothing to warm.
    session.client.SendSwitchOn(Device(), "CCD_COOLER", "COOLER_OFF");
    ASSERT_TRUE(WaitForSwitch("CCD_COOLER", "COOLER_OFF", IPS_OK));
    ASSERT_NO_FATAL_FAILURE(CoolTo(10));
    EXPECT_FALSE(session.client.Snapshot().HasMessageContaining(Device(), "warming the sensor up"));

    // The default rate, 2 C per minute: a degree per poll.
    ExpectGentleClimb(WarmUp(), 10, 1.0);
    EXPECT_TRUE(WaitForMessage("at 2.0 C per minute"));
    EXPECT_TRUE(WaitForMessage("Warm-up done: the sensor is at ambient (20.0 C); the cooler idles"));
    EXPECT_EQ(session.client.Property(Device(), "CCD_COOLER_POWER")->Number("CCD_COOLER_VALUE"), 0);

    // On: back to the last setpoint.
    session.client.ForgetStates(Device(), "CCD_TEMPERATURE");
    session.client.SendSwitchOn(Device(), "CCD_COOLER", "COOLER_ON");
    ASSERT_TRUE(WaitForTemperature(10));
    EXPECT_TRUE(WaitForSwitch("CCD_COOLER", "COOLER_ON", IPS_OK));

    // The warm-up's rate is INDI's temperature ramp: 4 C per minute, two
    // degrees per poll.
    session.client.SendNumbers(Device(), "CCD_TEMP_RAMP", {{"RAMP_SLOPE", 4}, {"RAMP_THRESHOLD", 0.2}});
    ASSERT_TRUE(session.client.WaitForState(Device(), "CCD_TEMP_RAMP", IPS_OK));
    ExpectGentleClimb(WarmUp(), 10, 2.0);
    EXPECT_TRUE(WaitForMessage("at 4.0 C per minute"));
}

TEST_F(NightTest, SetpointOutOfReachTurnsAlertNamingTheLimit) {
    // The cooler holds at most 10 C below ambient: +10 C.
    ASSERT_NO_FATAL_FAILURE(Connect(OurSteppedDriver(kSecondsPerPoll, "cooler-difference=10")));
    session.client.ForgetStates(Device(), "CCD_TEMPERATURE");
    session.client.SendNumbers(Device(), "CCD_TEMPERATURE", {{"CCD_TEMPERATURE_VALUE", 0}});
    ASSERT_TRUE(session.client.WaitForState(Device(), "CCD_TEMPERATURE", IPS_ALERT, kCoolerWait));
    const auto temperature = session.client.Property(Device(), "CCD_TEMPERATURE");
    EXPECT_EQ(temperature->states.front(), IPS_BUSY);
    EXPECT_EQ(temperature->Number("CCD_TEMPERATURE_VALUE"), 10);
    EXPECT_TRUE(WaitForMessage("The cooler cannot reach 0.0 C: at full drive the sensor levels off at about 10.0 C"));

    // A reachable setpoint afterwards is reached as usual.
    ASSERT_NO_FATAL_FAILURE(CoolTo(12));
}

TEST_F(NightTest, DisconnectingColdWarnsOrWarmsUpFirstWhenAsked) {
    ASSERT_NO_FATAL_FAILURE(Connect(OurSteppedDriver(kSecondsPerPoll)));
    ASSERT_NO_FATAL_FAILURE(CoolTo(10));
    session.client.SendSwitchOn(Device(), "CONNECTION", "DISCONNECT");
    ASSERT_TRUE(WaitForSwitch("CONNECTION", "DISCONNECT", IPS_IDLE));
    EXPECT_TRUE(WaitForMessage("Disconnected with the sensor at 10.0 C and the cooler working"));

    // Connected again (the simulated camera starts afresh, at ambient with
    // its cooler off), cooled, and this time warmed up first.
    std::string error;
    ASSERT_TRUE(session.ConnectDevice(Device(), error)) << error;
    ASSERT_TRUE(WaitForSwitch("CCD_COOLER", "COOLER_OFF", IPS_IDLE));
    ASSERT_NO_FATAL_FAILURE(CoolTo(10));

    session.client.SendSwitchOn(Device(), "WARM_UP_ON_DISCONNECT", "ENABLE");
    ASSERT_TRUE(WaitForSwitch("WARM_UP_ON_DISCONNECT", "ENABLE", IPS_OK));
    session.client.ForgetStates(Device(), "CONNECTION");
    session.client.ForgetStates(Device(), "CCD_TEMPERATURE");
    session.client.SendSwitchOn(Device(), "CONNECTION", "DISCONNECT");
    ASSERT_TRUE(WaitForSwitch("CONNECTION", "DISCONNECT", IPS_IDLE, kCoolerWait));
    const auto connection = session.client.Property(Device(), "CONNECTION");
    EXPECT_EQ(connection->states.front(), IPS_BUSY);
    // (The temperature's property is gone with the connection: the log tells.)
    EXPECT_TRUE(WaitForMessage("Warm-up done: the sensor is at ambient (20.0 C)"));
    EXPECT_EQ(session.client.Snapshot().CountMessagesContaining(Device(), "Disconnected with the sensor"), 1u);
}

TEST_F(NightTest, SimulationSwitchChoosesTheSimulatedCameraAndHoldsForTheProcess) {
    // Nothing on the library path and no TARNSCSI_SIMULATOR.
    ASSERT_NO_FATAL_FAILURE(Start(OurDriverWithoutManager()));
    session.client.SendSwitchOn(Device(), "CONNECTION", "CONNECT");
    ASSERT_TRUE(session.client.WaitForState(Device(), "CONNECTION", IPS_ALERT));
    EXPECT_TRUE(WaitForMessage("Missing wnaspi32; "));
    EXPECT_TRUE(WaitForMessage("switch SIMULATION on for the simulated camera"));

    session.client.SendSwitchOn(Device(), "SIMULATION", "ENABLE");
    ASSERT_TRUE(WaitForSwitch("SIMULATION", "ENABLE", IPS_OK));
    std::string error;
    ASSERT_TRUE(session.ConnectDevice(Device(), error)) << error;

    ASSERT_TRUE(session.client.WaitForProperty(Device(), "CAMERA_INFO"));
    const auto info = session.client.Property(Device(), "CAMERA_INFO");
    EXPECT_EQ(info->state, IPS_OK);
    EXPECT_EQ(info->Element("PRODUCT")->text.rfind("Nebrix", 0), 0u) << info->Element("PRODUCT")->text;
    EXPECT_FALSE(info->Element("VENDOR")->text.empty());
    EXPECT_FALSE(info->Element("REVISION")->text.empty());
    EXPECT_EQ(info->Element("ADAPTER")->text, "0");
    EXPECT_EQ(info->Element("TARGET")->text, "2");
    EXPECT_EQ(info->Element("MANAGER")->text, SimulatedManagerPath());

    // Not while connected; and once used, the simulated camera stays.
    session.client.SendSwitchOn(Device(), "SIMULATION", "DISABLE");
    ASSERT_TRUE(WaitForMessage("Disconnect before switching the simulated camera on or off"));
    EXPECT_TRUE(WaitForSwitch("SIMULATION", "ENABLE", IPS_ALERT));
    session.client.SendSwitchOn(Device(), "CONNECTION", "DISCONNECT");
    ASSERT_TRUE(WaitForSwitch("CONNECTION", "DISCONNECT", IPS_IDLE));
    session.client.SendSwitchOn(Device(), "SIMULATION", "DISABLE");
    ASSERT_TRUE(WaitForMessage("The simulated camera stays in use until the driver restarts"));
    EXPECT_TRUE(WaitForSwitch("SIMULATION", "ENABLE", IPS_ALERT));
}

TEST_F(NightTest, FitsRecordsTheCameraTheImageTypeAndTheSetpoint) {
    ASSERT_NO_FATAL_FAILURE(Connect(OurSteppedDriver(kSecondsPerPoll)));
    std::string error;
    // No setpoint sent yet: no SET-TEMP.
    const auto before = session.Expose(0.1, error);
    ASSERT_TRUE(before) << error;
    EXPECT_EQ(before->fits.Text("INSTRUME"), "Nebrix");
    EXPECT_FALSE(before->fits.Number("SET-TEMP").has_value());

    ASSERT_NO_FATAL_FAILURE(CoolTo(-5.5));
    const struct {
        const char* element;
        const char* imageType;
    } kTypes[] = {{"FRAME_DARK", "Dark Frame"},
                  {"FRAME_BIAS", "Bias Frame"},
                  {"FRAME_FLAT", "Flat Frame"},
                  {"FRAME_LIGHT", "Light Frame"}};
    for (const auto& type : kTypes) {
        SCOPED_TRACE(type.element);
        session.client.ForgetStates(Device(), "CCD_FRAME_TYPE");
        session.client.SendSwitchOn(Device(), "CCD_FRAME_TYPE", type.element);
        ASSERT_TRUE(WaitForSwitch("CCD_FRAME_TYPE", type.element, IPS_OK));
        const auto image = session.Expose(0.1, error);
        ASSERT_TRUE(image) << error;
        EXPECT_EQ(image->fits.Text("IMAGETYP"), type.imageType);
        EXPECT_EQ(image->fits.Number("SET-TEMP"), -5.5);
        EXPECT_EQ(image->fits.Text("INSTRUME"), "Nebrix");
    }

    // Cooler off: no setpoint is active any more.
    WarmUp();
    const auto after = session.Expose(0.1, error);
    ASSERT_TRUE(after) << error;
    EXPECT_FALSE(after->fits.Number("SET-TEMP").has_value());
}

TEST_F(NightTest, ExposureLimitsAreTheCamerasOwn) {
    ASSERT_NO_FATAL_FAILURE(Connect(OurSteppedDriver(kSecondsPerPoll)));
    const auto exposure = session.client.Property(Device(), "CCD_EXPOSURE");
    const ElementCopy* value = exposure->Element("CCD_EXPOSURE_VALUE");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->min, 0.0);
    EXPECT_EQ(value->max, 2147483.647);
    EXPECT_EQ(value->step, 0.001);
    // Past the longest time the camera's field carries: refused, nothing sent.
    session.client.ForgetStates(Device(), "CCD_EXPOSURE");
    session.client.SendNumbers(Device(), "CCD_EXPOSURE", {{"CCD_EXPOSURE_VALUE", 2147483.648}});
    EXPECT_TRUE(session.client.WaitForState(Device(), "CCD_EXPOSURE", IPS_ALERT));
    std::string error;
    const auto image = session.Expose(0.001, error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(image->fits.Number("EXPTIME"), 0.001);
}

// The camera at time scale 3 takes 3 s to read a full frame out: more than
// an allowance of 1 s, well within the default 60 s.
TEST_F(NightTest, ReadoutAllowanceIsASetting) {
    ASSERT_NO_FATAL_FAILURE(Connect(OurDriver(3)));
    EXPECT_EQ(session.client.Property(Device(), "READOUT_ALLOWANCE")->Number("SECONDS"), 60);
    session.client.SendNumbers(Device(), "READOUT_ALLOWANCE", {{"SECONDS", 1}});
    ASSERT_TRUE(session.client.WaitForState(Device(), "READOUT_ALLOWANCE", IPS_OK));
    std::string error;
    EXPECT_FALSE(session.Expose(0.1, error));
    EXPECT_TRUE(WaitForMessage("did not finish the exposure within"));
}

}  // namespace
}  // namespace tarnscsi::indi_test
