// One test's INDI session: a server of its own with one camera driver, a
// client connected to it, and the steps every camera test takes (connect the
// device, take an exposure). The drivers it knows: ours against the
// simulated camera, and INDI's own CCD simulator to compare with.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "fits_image.h"
#include "indi_server.h"
#include "indi_test_client.h"

namespace tarnscsi::indi_test {

struct DriverUnderTest {
    std::string label;  // for test names
    std::string executable;
    std::string device;
    std::vector<std::string> environment;
    // Real seconds one second of exposure takes with this driver, at least
    // one: a driver waits for the exposure time before it looks.
    double realSecondsPerExposureSecond = 1;
    bool reportsCoolerPower = false;
    // What its images record as INSTRUME; empty: the device's name.
    std::string instrument;
};

// Test names and messages show the driver by its label.
inline void PrintTo(const DriverUnderTest& driver, std::ostream* out) { *out << driver.label; }

// Our driver on the simulated camera, whose time runs at `timeScale` real
// seconds per simulated second, showing its test pattern; more settings for
// the simulator (its TARNSCSI_SIM items, such as faults) may follow.
DriverUnderTest OurDriver(double timeScale, const std::string& moreSimulatorSettings = "");
// The tests run our camera in real time: its image is ready only after the
// exposure time and the readout, so the driver must ask whether it is ready
// rather than trust the clock; and its cooling moves slowly enough to be
// seen on the way.
inline constexpr double kCameraTimeScale = 1.0;
// Our driver on the simulated camera with time scale 0 (exposures, readouts
// and cooling finish at once) and the cooler rules' clock stepped by
// `secondsPerPoll` at each poll: warm-ups and stalls run in a few polls,
// the same steps every run.
DriverUnderTest OurSteppedDriver(double secondsPerPoll, const std::string& moreSimulatorSettings = "");
// Our driver where no ASPI manager can be found.
DriverUnderTest OurDriverWithoutManager();
// Our driver with TARNSCSI_SIMULATOR naming `managerPath` and nothing on the
// library path: the variable alone decides whether it finds a camera.
DriverUnderTest OurDriverWithSimulatorVariable(const std::string& managerPath);
// The simulated camera's manager library in the build tree, and a path
// where there is none.
std::string SimulatedManagerPath();
std::string MissingManagerPath();
DriverUnderTest IndiCcdSimulator();

struct Image {
    BlobCopy blob;
    FitsImage fits;
};

class Session {
public:
    // Starts the server with the driver and connects the client.
    bool Open(const DriverUnderTest& driver, std::string& error);
    // Starts a server with several drivers (for comparing them).
    bool Open(const std::vector<DriverUnderTest>& drivers, std::string& error);
    // Connects a device and waits until its camera properties are there.
    bool ConnectDevice(const std::string& device, std::string& error);

    // Exposes the primary chip and waits for the image.
    std::optional<Image> Expose(double seconds, std::string& error);
    // The same in two steps: starts the exposure and waits until it is under
    // way (false if it is not), then waits for its image.
    bool BeginExposure(double seconds);
    std::optional<Image> FinishExposure(std::string& error);

    // The server's log and the device messages, for a failing test's output.
    std::string Diagnostics() const;

    const DriverUnderTest& Driver() const { return drivers.front(); }
    const std::string& Device() const { return drivers.front().device; }

    // Declared in this order so that the client leaves before the server stops.
    IndiServer server;
    IndiTestClient client;

private:
    void SendExposure(double seconds);

    std::vector<DriverUnderTest> drivers;
    // The exposure begun: its time and the images received before it.
    double exposureSeconds = 0;
    std::size_t imagesBefore = 0;
};

}  // namespace tarnscsi::indi_test