// What only our driver does: it reports the camera's own sensor, refuses
// frames and binnings the camera cannot take (INDI's simulator takes
// anything), and shows the module's message when the camera cannot be
// opened.
#include <gtest/gtest.h>

#include "session.h"

namespace indi_test {
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

TEST_F(OurCamera, OddBinnedFrameLosesItsLastColumnAndRow) {
    Connect();
    ASSERT_TRUE(Accepted("CCD_BINNING", {{"HOR_BIN", 2}, {"VER_BIN", 2}}));
    ASSERT_TRUE(Accepted("CCD_FRAME", {{"X", 1}, {"Y", 1}, {"WIDTH", 301}, {"HEIGHT", 201}}));
    std::string error;
    const auto image = session.Expose(1.0, error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(image->fits.width, 150);
    EXPECT_EQ(image->fits.height, 100);
}

// The session asks the simulated camera for its test pattern: pixel n of the
// readout, in readout order, is (n * 40503 + 12345) mod 65536. Each pixel of
// the FITS image must hold exactly that: the driver put the camera's bytes in
// the right order and the right place.
TEST_F(OurCamera, PixelsArriveAsTheCameraReadsThemOut) {
    constexpr std::uint32_t kPatternStep = 40503;
    constexpr std::uint32_t kPatternStart = 12345;
    constexpr std::uint32_t kPixelValues = 65536;
    Connect();
    const auto expectPattern = [&](long width, long height) {
        std::string error;
        const auto image = session.Expose(0.1, error);
        ASSERT_TRUE(image) << error;
        ASSERT_EQ(image->fits.pixels.size(), static_cast<std::size_t>(width * height));
        std::size_t wrong = 0;
        for (std::size_t n = 0; n < image->fits.pixels.size(); ++n) {
            const auto expected = static_cast<std::uint16_t>((n * kPatternStep + kPatternStart) % kPixelValues);
            if (image->fits.pixels[n] != expected && wrong++ == 0) {
                ADD_FAILURE() << "pixel " << n << " is " << image->fits.pixels[n] << ", not " << expected;
            }
        }
        EXPECT_EQ(wrong, 0u);
    };
    ASSERT_TRUE(Accepted("CCD_FRAME", {{"X", 10}, {"Y", 20}, {"WIDTH", 64}, {"HEIGHT", 48}}));
    expectPattern(64, 48);
    ASSERT_TRUE(Accepted("CCD_BINNING", {{"HOR_BIN", 2}, {"VER_BIN", 2}}));
    expectPattern(32, 24);
}

TEST_F(OurCamera, SetpointTheCameraRefusesIsAnAlert) {
    Connect("fault=mode-select:0:1:check");
    session.client.ForgetStates(session.Device(), "CCD_TEMPERATURE");
    session.client.SendNumbers(session.Device(), "CCD_TEMPERATURE", {{"CCD_TEMPERATURE_VALUE", 0}});
    ASSERT_TRUE(session.client.WaitForState(session.Device(), "CCD_TEMPERATURE", IPS_ALERT));
    EXPECT_TRUE(session.client.Snapshot().HasMessageContaining(session.Device(), "did not take the setpoint"));
    // The camera takes the next one.
    session.client.SendNumbers(session.Device(), "CCD_TEMPERATURE", {{"CCD_TEMPERATURE_VALUE", 19}});
    EXPECT_TRUE(session.client.WaitForState(session.Device(), "CCD_TEMPERATURE", IPS_OK));
}

TEST_F(OurCamera, FailedReadFailsTheExposureAndTheNextOneWorks) {
    Connect("fault=read:0:1:check");
    std::string error;
    EXPECT_FALSE(session.Expose(0.1, error));
    EXPECT_EQ(session.client.Property(session.Device(), "CCD_EXPOSURE")->state, IPS_ALERT);
    EXPECT_TRUE(session.client.Snapshot().HasMessageContaining(session.Device(), "Exposure failed"));
    EXPECT_EQ(session.client.Snapshot().BlobCount(session.Device()), 0u);

    const auto image = session.Expose(0.1, error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(image->fits.width, 768);
}

TEST_F(OurCamera, ConnectFailureShowsTheModuleMessageAndStaysDisconnected) {
    std::string error;
    ASSERT_TRUE(session.Open(OurDriverWithoutManager(), error)) << error;
    const std::string& device = session.Device();
    session.client.SendSwitchOn(device, "CONNECTION", "CONNECT");
    ASSERT_TRUE(session.client.WaitForState(device, "CONNECTION", IPS_ALERT));
    EXPECT_TRUE(session.client.WaitUntil(
        [&](const Received& r) { return r.HasMessageContaining(device, "Missing wnaspi32"); }));
    const auto connection = session.client.Property(device, "CONNECTION");
    EXPECT_FALSE(connection->Element("CONNECT")->on);
    EXPECT_TRUE(connection->Element("DISCONNECT")->on);
    EXPECT_FALSE(session.client.Property(device, "CCD_EXPOSURE").has_value());
}

}  // namespace
}  // namespace indi_test
