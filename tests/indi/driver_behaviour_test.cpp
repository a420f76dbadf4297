// What a client sees of a camera driver, run against ours (on the simulated
// camera) and against INDI's own CCD simulator: the same steps must give the
// same outcome on both, wherever our camera can do what the simulator does.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "session.h"

namespace tarnscsi::indi_test {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kFitsBlock = 2880;
constexpr std::size_t kBytesPerPixel = 2;
constexpr double kTemperatureStep = 2.0;       // degrees below the current temperature
constexpr double kTemperatureThreshold = 0.2;  // INDI's default for "reached"
constexpr auto kCoolingWait = 20s;
// INDI keeps pixel sizes as floats for the FITS header, as doubles in CCD_INFO.
constexpr double kPixelSizeTolerance = 1e-5;

class DriverBehaviour : public ::testing::TestWithParam<DriverUnderTest> {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(session.Open(GetParam(), error)) << error;
        ASSERT_TRUE(session.ConnectDevice(GetParam().device, error)) << error << "\n" << session.Diagnostics();
    }

    void TearDown() override {
        if (HasFailure()) std::cout << session.Diagnostics();
    }

    const std::string& Device() const { return GetParam().device; }

    double Info(const char* element) { return session.client.Property(Device(), "CCD_INFO")->Number(element); }

    // The image must be a whole FITS file: header blocks, then the pixels of
    // the frame padded to a block.
    void ExpectWholeFitsFile(const Image& image, long width, long height) {
        EXPECT_EQ(image.blob.format, ".fits");
        EXPECT_EQ(image.fits.bitsPerPixel, 16);
        EXPECT_EQ(image.fits.width, width);
        EXPECT_EQ(image.fits.height, height);
        const std::size_t pixelBytes = static_cast<std::size_t>(width * height) * kBytesPerPixel;
        const std::size_t padded = (pixelBytes + kFitsBlock - 1) / kFitsBlock * kFitsBlock;
        EXPECT_EQ(image.blob.bytes.size(), static_cast<std::size_t>(image.fits.dataStart) + padded);
        EXPECT_EQ(image.blob.bytes.size() % kFitsBlock, 0u);
    }

    Session session;
};

TEST_P(DriverBehaviour, CoolsToASetpointAndSaysWhenItIsThere) {
    const double start = session.client.Property(Device(), "CCD_TEMPERATURE")->Number("CCD_TEMPERATURE_VALUE");
    const double target = std::round(start - kTemperatureStep);
    session.client.ForgetStates(Device(), "CCD_TEMPERATURE");
    session.client.SendNumbers(Device(), "CCD_TEMPERATURE", {{"CCD_TEMPERATURE_VALUE", target}});

    ASSERT_TRUE(session.client.WaitForState(Device(), "CCD_TEMPERATURE", IPS_OK, kCoolingWait));
    const auto temperature = session.client.Property(Device(), "CCD_TEMPERATURE");
    EXPECT_NEAR(temperature->Number("CCD_TEMPERATURE_VALUE"), target, kTemperatureThreshold);
    // Busy while on the way, then OK.
    ASSERT_FALSE(temperature->states.empty());
    EXPECT_EQ(temperature->states.front(), IPS_BUSY);
    EXPECT_EQ(temperature->states.back(), IPS_OK);

    if (GetParam().reportsCoolerPower) {
        // Holding the sensor below ambient takes some of the cooler's power.
        EXPECT_TRUE(session.client.WaitUntil([&](const Received& r) {
            const PropertyCopy* power = r.Find(Device(), "CCD_COOLER_POWER");
            return power != nullptr && power->Number("CCD_COOLER_VALUE") > 0.0;
        }));
        EXPECT_LE(session.client.Property(Device(), "CCD_COOLER_POWER")->Number("CCD_COOLER_VALUE"), 100.0);
    }
}

TEST_P(DriverBehaviour, FullFrameExposureArrivesAsFits) {
    std::string error;
    const auto image = session.Expose(1.0, error);
    ASSERT_TRUE(image) << error;

    const long width = std::lround(Info("CCD_MAX_X"));
    const long height = std::lround(Info("CCD_MAX_Y"));
    ExpectWholeFitsFile(*image, width, height);
    EXPECT_EQ(image->fits.Number("XBINNING"), 1.0);
    EXPECT_EQ(image->fits.Number("YBINNING"), 1.0);
    EXPECT_EQ(image->fits.Number("EXPTIME"), 1.0);
    EXPECT_NEAR(image->fits.Number("PIXSIZE1").value_or(0), Info("CCD_PIXEL_SIZE_X"), kPixelSizeTolerance);
    EXPECT_NEAR(image->fits.Number("PIXSIZE2").value_or(0), Info("CCD_PIXEL_SIZE_Y"), kPixelSizeTolerance);
    EXPECT_EQ(image->fits.Text("INSTRUME"), GetParam().instrument.empty() ? Device() : GetParam().instrument);
    EXPECT_EQ(image->fits.Text("IMAGETYP"), "Light Frame");
    EXPECT_EQ(image->fits.Text("FRAME"), "Light");
    EXPECT_TRUE(image->fits.Number("CCD-TEMP").has_value());

    ASSERT_TRUE(session.client.WaitForState(Device(), "CCD_EXPOSURE", IPS_OK));
    const auto exposure = session.client.Property(Device(), "CCD_EXPOSURE");
    EXPECT_EQ(exposure->states.front(), IPS_BUSY);
}

TEST_P(DriverBehaviour, BinnedSubframeArrivesBinned) {
    session.client.SendNumbers(Device(), "CCD_BINNING", {{"HOR_BIN", 2}, {"VER_BIN", 2}});
    ASSERT_TRUE(session.client.WaitForState(Device(), "CCD_BINNING", IPS_OK));
    session.client.SendNumbers(Device(), "CCD_FRAME", {{"X", 64}, {"Y", 32}, {"WIDTH", 320}, {"HEIGHT", 200}});
    ASSERT_TRUE(session.client.WaitForState(Device(), "CCD_FRAME", IPS_OK));

    std::string error;
    const auto image = session.Expose(1.0, error);
    ASSERT_TRUE(image) << error;
    ExpectWholeFitsFile(*image, 160, 100);
    EXPECT_EQ(image->fits.Number("XBINNING"), 2.0);
    EXPECT_EQ(image->fits.Number("YBINNING"), 2.0);
    EXPECT_NEAR(image->fits.Number("XPIXSZ").value_or(0), 2 * Info("CCD_PIXEL_SIZE_X"), kPixelSizeTolerance);
    EXPECT_NEAR(image->fits.Number("YPIXSZ").value_or(0), 2 * Info("CCD_PIXEL_SIZE_Y"), kPixelSizeTolerance);
}

TEST_P(DriverBehaviour, AbortAbandonsTheExposureAndTheNextOneWorks) {
    // A small frame, whose readout takes next to no time.
    session.client.SendNumbers(Device(), "CCD_FRAME", {{"X", 0}, {"Y", 0}, {"WIDTH", 100}, {"HEIGHT", 80}});
    ASSERT_TRUE(session.client.WaitForState(Device(), "CCD_FRAME", IPS_OK));

    // Aborted as soon as it runs.
    const double seconds = 1.0;
    const auto realLength = std::chrono::duration<double>(seconds * GetParam().realSecondsPerExposureSecond);
    const auto started = std::chrono::steady_clock::now();
    session.client.ForgetStates(Device(), "CCD_EXPOSURE");
    session.client.SendNumbers(Device(), "CCD_EXPOSURE", {{"CCD_EXPOSURE_VALUE", seconds}});
    ASSERT_TRUE(session.client.WaitForState(Device(), "CCD_EXPOSURE", IPS_BUSY));
    session.client.SendSwitchOn(Device(), "CCD_ABORT_EXPOSURE", "ABORT");
    ASSERT_TRUE(session.client.WaitForState(Device(), "CCD_ABORT_EXPOSURE", IPS_OK));
    EXPECT_TRUE(session.client.WaitForState(Device(), "CCD_EXPOSURE", IPS_IDLE));

    // Well past the time the exposure would have ended: no image came.
    std::this_thread::sleep_until(started + realLength + 1.5s);
    EXPECT_EQ(session.client.Snapshot().BlobCount(Device()), 0u);

    // The next exposure, of another frame, brings that frame.
    session.client.SendNumbers(Device(), "CCD_FRAME", {{"X", 10}, {"Y", 10}, {"WIDTH", 64}, {"HEIGHT", 48}});
    ASSERT_TRUE(session.client.WaitForState(Device(), "CCD_FRAME", IPS_OK));
    std::string error;
    const auto image = session.Expose(0.5, error);
    ASSERT_TRUE(image) << error;
    ExpectWholeFitsFile(*image, 64, 48);
    EXPECT_EQ(session.client.Snapshot().BlobCount(Device()), 1u);
}

INSTANTIATE_TEST_SUITE_P(Drivers, DriverBehaviour, ::testing::Values(OurDriver(kCameraTimeScale), IndiCcdSimulator()),
                         [](const auto& test) { return test.param.label; });

}  // namespace
}  // namespace tarnscsi::indi_test