#include "session.h"

#include <algorithm>
#include <chrono>
#include <sstream>

namespace tarnscsi::indi_test {
namespace {

using namespace std::chrono_literals;

constexpr char kConnection[] = "CONNECTION";
// Defined by every camera once it is connected; the last of them to come.
constexpr const char* kCameraProperties[] = {"CCD_INFO", "CCD_EXPOSURE", "CCD_FRAME", "CCD1"};

// How long past the exposure time an image may take to arrive.
constexpr auto kImageAllowance = 10s;

}  // namespace

DriverUnderTest OurDriver(double timeScale, const std::string& moreSimulatorSettings) {
    // The test pattern, whatever the camera's default image: every pixel can
    // then be checked.
    std::string settings = "time-scale=" + std::to_string(timeScale) + ",image=pattern";
    if (!moreSimulatorSettings.empty()) settings += "," + moreSimulatorSettings;
    return {"tarnscsi",
            TARNSCSI_INDI_DRIVER,
            TARNSCSI_INDI_DEVICE,
            {"LD_LIBRARY_PATH=" SIM_MANAGER_DIR, "TARNSCSI_SIM=" + settings},
            std::max(1.0, timeScale),
            true,
            "Nebrix"};
}

DriverUnderTest OurSteppedDriver(double secondsPerPoll, const std::string& moreSimulatorSettings) {
    DriverUnderTest driver = OurDriver(0, moreSimulatorSettings);
    driver.environment.push_back("TARNSCSI_INDI_SECONDS_PER_POLL=" + std::to_string(secondsPerPoll));
    return driver;
}

DriverUnderTest OurDriverWithoutManager() {
    return {"tarnscsi_no_manager",
            TARNSCSI_INDI_DRIVER,
            TARNSCSI_INDI_DEVICE,
            {"LD_LIBRARY_PATH=" NO_MANAGER_DIR},
            1,
            true,
            "Nebrix"};
}

DriverUnderTest OurDriverWithSimulatorVariable(const std::string& managerPath) {
    return {"tarnscsi_simulator_variable",
            TARNSCSI_INDI_DRIVER,
            TARNSCSI_INDI_DEVICE,
            {"LD_LIBRARY_PATH=" NO_MANAGER_DIR, "TARNSCSI_SIMULATOR=" + managerPath},
            1,
            true,
            "Nebrix"};
}

std::string SimulatedManagerPath() { return SIM_MANAGER_DIR "/libwnaspi32.so"; }
std::string MissingManagerPath() { return NO_MANAGER_DIR "/libwnaspi32.so"; }

DriverUnderTest IndiCcdSimulator() { return {"indi_simulator", INDI_SIMULATOR_CCD, "CCD Simulator", {}, 1, false, ""}; }

bool Session::Open(const DriverUnderTest& driver, std::string& error) {
    return Open(std::vector<DriverUnderTest>{driver}, error);
}

bool Session::Open(const std::vector<DriverUnderTest>& wanted, std::string& error) {
    drivers = wanted;
    IndiServer::Options options;
    for (const auto& driver : drivers) {
        options.drivers.push_back(driver.executable);
        options.environment.insert(options.environment.end(), driver.environment.begin(), driver.environment.end());
    }
    if (!server.Start(options, error)) return false;
    if (!client.ConnectTo(server.Port())) {
        error = "the client could not connect to the server";
        return false;
    }
    for (const auto& driver : drivers) {
        client.ReceiveImagesOf(driver.device);
        if (!client.WaitForProperty(driver.device, kConnection)) {
            error = driver.device + " did not define " + kConnection;
            return false;
        }
    }
    return true;
}

bool Session::ConnectDevice(const std::string& device, std::string& error) {
    client.SendSwitchOn(device, kConnection, "CONNECT");
    if (!client.WaitForState(device, kConnection, IPS_OK)) {
        error = device + " did not connect";
        return false;
    }
    for (const char* property : kCameraProperties) {
        if (!client.WaitForProperty(device, property)) {
            error = device + " did not define " + property;
            return false;
        }
    }
    // Drivers define CCD_INFO empty and fill it in just after, the bit depth
    // last.
    const bool sized = client.WaitUntil([&](const Received& r) {
        const PropertyCopy* info = r.Find(device, "CCD_INFO");
        return info != nullptr && info->Number("CCD_BITSPERPIXEL") > 0;
    });
    if (!sized) error = device + " did not report its sensor size";
    return sized;
}

void Session::SendExposure(double seconds) {
    imagesBefore = client.Snapshot().BlobCount(Device());
    exposureSeconds = seconds;
    client.ForgetStates(Device(), "CCD_EXPOSURE");
    client.SendNumbers(Device(), "CCD_EXPOSURE", {{"CCD_EXPOSURE_VALUE", seconds}});
}

std::optional<Image> Session::Expose(double seconds, std::string& error) {
    SendExposure(seconds);
    return FinishExposure(error);
}

bool Session::BeginExposure(double seconds) {
    SendExposure(seconds);
    return client.WaitForState(Device(), "CCD_EXPOSURE", IPS_BUSY);
}

std::optional<Image> Session::FinishExposure(std::string& error) {
    const std::string& device = Device();
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::duration<double>(exposureSeconds * Driver().realSecondsPerExposureSecond) + kImageAllowance);
    const bool arrived = client.WaitUntil(
        [&](const Received& r) {
            const PropertyCopy* exposure = r.Find(device, "CCD_EXPOSURE");
            const bool failed = exposure != nullptr && std::find(exposure->states.begin(), exposure->states.end(),
                                                                 IPS_ALERT) != exposure->states.end();
            return r.BlobCount(device) > imagesBefore || failed;
        },
        wait);
    const Received received = client.Snapshot();
    if (!arrived || received.BlobCount(device) <= imagesBefore) {
        error = arrived ? "the exposure failed" : "no image arrived";
        return std::nullopt;
    }
    Image image{received.blobs.at(device).back(), {}};
    auto fits = FitsImage::Parse(image.blob.bytes, error);
    if (!fits) return std::nullopt;
    image.fits = std::move(*fits);
    return image;
}

std::string Session::Diagnostics() const {
    std::ostringstream text;
    const Received received = client.Snapshot();
    for (const auto& [device, messages] : received.messages) {
        text << "Messages of " << device << ":\n";
        for (const auto& message : messages) text << "  " << message << "\n";
    }
    text << "Server log:\n" << server.Log();
    return text.str();
}

}  // namespace tarnscsi::indi_test