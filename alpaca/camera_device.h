// The camera as an Alpaca camera device: connection, frame settings, the
// exposure's state and the last image, and the cooler. One physical camera
// serves every client: each operation holds one mutex, so a second client
// sees the state the first caused. The exposure's progress is read from the
// camera (TEST UNIT READY) whenever a client asks; a small ticker moves a
// warm-up along while no one asks.
//
// Reads never queue behind a download: while one is under way, Connected,
// CameraState, ImageReady, PercentCompleted, CCDTemperature and CoolerPower
// answer from the latest state and reading the device has. The cooler's
// reading is taken at most once per kReadingLifetime; reads within it get
// the last one.
//
// A disconnect during a warm-up answers at once and the warm-up goes on: the
// server keeps the camera (Connected reads false) until the sensor is at
// ambient, then lets it go. A client that reconnects meanwhile gets the
// camera as it is, still warming up.
#pragma once

#include <chrono>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include <tarnscsi/camera.h>
#include <tarnscsi/cooler_control.h>
#include <tarnscsi/exposure_session.h>

#include "imaging/frame_type.h"

#include "alpaca_errors.h"

namespace tarnscsi::alpaca {

// How long a cooler reading answers CCDTemperature and CoolerPower.
inline constexpr std::chrono::seconds kReadingLifetime{1};

enum class CameraState { kIdle = 0, kWaiting = 1, kExposing = 2, kReading = 3, kDownload = 4, kError = 5 };

// A member's answer: its value or why there is none.
template <typename T>
using Answer = std::variant<T, Failure>;

// The last image: NumX x NumY pixels, stored column by column (index
// x * height + y), the order both Alpaca image answers send, so that
// answering walks memory once.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint16_t> columns;
    // How it was taken: for the camera page and its FITS file.
    double seconds = 0;
    std::chrono::system_clock::time_point started;
    std::string start;  // the same, as LastExposureStartTime gives it
    Frame frame;        // unbinned, as the camera reported it
    imaging::ImageType type = imaging::ImageType::kLight;
    std::uint64_t number = 0;               // counts the frames since the server started: 1, 2, ...
    std::optional<CoolingReading> cooling;  // read as the exposure started
    std::optional<double> setpoint;         // degrees C, when the cooler worked to one
};

// The frame in binned pixels, as clients set it.
struct FrameSettings {
    std::int64_t bin = kUnbinned;
    std::int64_t startX = 0;
    std::int64_t startY = 0;
    std::int64_t numX = kSensorWidth;
    std::int64_t numY = kSensorHeight;
};

// A cooling reading as the device took it, with the setpoint the cooler
// was working to (none while it is off).
struct CoolingSample {
    std::chrono::steady_clock::time_point time;
    CoolingReading reading;
    std::optional<double> setpoint;  // degrees C
};

// What the status page shows, read in one go.
struct DeviceStatus {
    bool connected = false;
    CameraIdentity identity;
    CameraState state = CameraState::kIdle;
    std::optional<CoolingReading> cooling;
    std::optional<double> setpoint;  // degrees C
    bool coolerOn = false;
    bool warmingUp = false;
    // Where the sensor levels off when the setpoint is out of reach (C).
    std::optional<double> limit;
    std::optional<double> lastDuration;
    std::string lastStart;
    bool imageReady = false;
    std::string lastError;
};

class CameraDevice {
public:
    CameraDevice();
    ~CameraDevice();
    CameraDevice(const CameraDevice&) = delete;
    CameraDevice& operator=(const CameraDevice&) = delete;

    // Connection.
    Failure Connect();
    void Disconnect();
    bool Connected();
    Answer<CameraIdentity> Identity();

    // Frame settings, in binned pixels.
    Answer<int> Bin();
    Failure SetBin(std::int64_t bin);
    Answer<std::int64_t> NumX();
    Answer<std::int64_t> NumY();
    Answer<std::int64_t> StartX();
    Answer<std::int64_t> StartY();
    Failure SetNumX(std::int64_t value);
    Failure SetNumY(std::int64_t value);
    Failure SetStartX(std::int64_t value);
    Failure SetStartY(std::int64_t value);

    // Exposure. `light` only labels the frame (light or dark): the camera
    // has no shutter.
    Failure StartExposure(double seconds, bool light);
    // Sets the frame and starts an exposure of it, labelled `type`, in one
    // step: when anything is refused, nothing changes.
    Failure StartExposure(double seconds, imaging::ImageType type, const FrameSettings& frame);
    Failure AbortExposure();
    Answer<CameraState> State();
    Answer<int> PercentCompleted();
    Answer<bool> ImageReady();
    Answer<double> LastExposureDuration();
    Answer<std::string> LastExposureStartTime();
    // The last image, shared so that encoding needs no lock.
    Answer<std::shared_ptr<const Image>> LastImage();

    // Cooling.
    Answer<double> CcdTemperature();
    Answer<double> CoolerPower();
    Answer<bool> CoolerOn();
    Failure SetCoolerOn(bool on);
    Answer<double> SetCcdTemperature();
    Failure SetSetCcdTemperature(double celsius);

    DeviceStatus Status();

    // Moves a warm-up along; the ticker calls it, tests may too.
    void Tick();

    // The clock the exposure's progress and the warm-up are timed by: the
    // steady clock unless tests give the simulator's.
    using TimeSource = std::function<std::chrono::steady_clock::time_point()>;
    void UseClock(TimeSource now);

    // Called, under the device's lock, with every cooling reading the
    // device takes; it must not call back into the device.
    using CoolingListener = std::function<void(const CoolingSample&)>;
    void ListenToCooling(CoolingListener listener);

private:
    // How the exposure under way was asked for, for its image.
    struct ExposureRecord {
        double seconds = 0;
        Frame frame;
        imaging::ImageType type = imaging::ImageType::kLight;
        std::optional<CoolingReading> cooling;
    };

    // Checks everything, then sets the frame and starts: under the lock.
    Failure Start(double seconds, imaging::ImageType type, const FrameSettings& asked);

    // What readers get while a download holds the lock.
    struct Latest {
        bool connected = false;
        CameraState state = CameraState::kIdle;
        Answer<int> percent = 0;
        bool imageReady = false;
        std::optional<CoolingReading> cooling;
        std::chrono::steady_clock::time_point coolingTime;
    };

    // Takes the lock, unless a download holds it: false then, and the
    // caller answers from `latest`.
    bool LockUnlessDownloading(std::unique_lock<std::mutex>& lock);
    Latest LatestState() const;
    // Under the lock: `latest` as the device stands now.
    void Publish();
    Answer<int> PercentNow() const;
    // The cooler's reading: the latest if young enough, else the camera's.
    Answer<CoolingReading> Cooling(const char* member);

    Failure NeedConnection() const;
    void Follow();  // the exposure's progress, under the lock
    Failure CameraFailed(const std::string& what, const CommandResult& result) const;
    Failure SendSetpoint(std::int32_t tenths);
    // Reads the camera and moves the cooler's rules along.
    CoolingResult ReadCooler();
    double Seconds() const;
    void TickLoop();
    // The camera's cooling reading, told to the listener.
    CoolingResult ReadCooling();
    // A reading taken (as an exposure starts), kept and told alike.
    const CoolingResult& Noted(const CoolingResult& read);

    std::mutex mutex;
    TimeSource now;
    std::atomic<bool> downloading{false};
    mutable std::mutex latestMutex;
    Latest latest;  // under latestMutex
    CoolingListener coolingListener;
    // Held while connected, and after a disconnect until the warm-up ends.
    std::unique_ptr<Camera> camera;
    bool connected = false;
    CameraIdentity identity;

    // As clients set them; checked when an exposure starts.
    int bin = kUnbinned;
    std::int64_t numX = kSensorWidth;
    std::int64_t numY = kSensorHeight;
    std::int64_t startX = 0;
    std::int64_t startY = 0;

    CameraState state = CameraState::kIdle;
    // Over the connected camera; made at connecting.
    std::optional<ExposureSession> session;
    double fraction = 0;      // of the exposure time, at the last poll
    double exposureEnd = 0;   // Seconds() when its time is over
    ExposureRecord exposure;  // the last one started
    std::shared_ptr<const Image> image;
    std::uint64_t frames = 0;  // the last image's number
    std::optional<double> lastDuration;
    std::string lastStart;
    std::string lastError;

    bool coolerOn = false;             // the switch as clients set it
    CoolerControl cooler;              // with the setpoint last asked of this camera
    std::vector<std::uint8_t> buffer;  // the image as it arrives
    std::vector<std::uint16_t> rows;   // ... as the machine's numbers

    std::condition_variable_any stopSignal;
    bool stopping = false;
    std::thread ticker;
};

}  // namespace tarnscsi::alpaca
