// The camera as an Alpaca camera device: connection, frame settings, the
// exposure's state and the last image, and the cooler. One physical camera
// serves every client, and one thread owns it (OwnerThread): it alone talks
// to the camera, its exposure session and its cooler control. It polls the
// exposure when the session asks to be polled, downloads the image as soon
// as the camera has read it out (CameraState Download, PercentCompleted
// through the image), reads the cooler every kCoolerReadInterval, and after
// each step publishes an immutable snapshot of the device.
//
// Members that read answer from the latest snapshot and never wait for the
// camera. Members that act hand their work to the thread and wait for its
// answer, in the order they came; one that arrives during a download is
// answered when the download ends, or refused, with nothing done, after
// kActionPatience. AbortExposure during a download stops it after the read
// under way and drops the frame.
//
// A disconnect during a warm-up answers at once and the warm-up goes on: the
// server keeps the camera (Connected reads false) until the sensor is at
// ambient, then lets it go. A client that reconnects meanwhile gets the
// camera as it is, still warming up.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <tarnscsi/camera.h>
#include <tarnscsi/cooler_control.h>
#include <tarnscsi/exposure_session.h>

#include "imaging/frame_type.h"

#include "alpaca_errors.h"
#include "owner_thread.h"

namespace tarnscsi::alpaca {

// How often the cooler is read (its readings answer CCDTemperature and
// CoolerPower, and move the warm-up along).
inline constexpr std::chrono::seconds kCoolerReadInterval{1};
// How long an action waits for the camera's thread to take it up: a full
// frame's download on a slow adapter takes about 0.8 s. Past it the action
// is refused, with nothing done, before a client's own time limit runs out
// (INDI's Alpaca client gives up after 5 s).
inline constexpr std::chrono::seconds kActionPatience{4};

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
    // PercentCompleted (none after a failed exposure), the frame as clients
    // set it, and the last image.
    std::optional<int> percent;
    FrameSettings frame;
    std::shared_ptr<const Image> image;
};

class CameraDevice {
public:
    CameraDevice();
    ~CameraDevice();
    CameraDevice(const CameraDevice&) = delete;
    CameraDevice& operator=(const CameraDevice&) = delete;

    // Connection.
    Failure Connect();
    Failure Disconnect();
    bool Connected() const;
    Answer<CameraIdentity> Identity() const;

    // Frame settings, in binned pixels.
    Answer<int> Bin() const;
    Failure SetBin(std::int64_t bin);
    Answer<std::int64_t> NumX() const;
    Answer<std::int64_t> NumY() const;
    Answer<std::int64_t> StartX() const;
    Answer<std::int64_t> StartY() const;
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
    Answer<CameraState> State() const;
    Answer<int> PercentCompleted() const;
    Answer<bool> ImageReady() const;
    Answer<double> LastExposureDuration() const;
    Answer<std::string> LastExposureStartTime() const;
    // The last image, shared so that encoding needs no lock.
    Answer<std::shared_ptr<const Image>> LastImage() const;

    // Cooling.
    Answer<double> CcdTemperature() const;
    Answer<double> CoolerPower() const;
    Answer<bool> CoolerOn() const;
    Failure SetCoolerOn(bool on);
    Answer<double> SetCcdTemperature() const;
    Failure SetSetCcdTemperature(double celsius);

    // Everything at once, from one snapshot.
    DeviceStatus Status() const;

    // Reads the cooler now and moves its rules along (the thread does so
    // every kCoolerReadInterval).
    void Tick();

    // The clock the exposure's progress, the cooler's readings and the
    // warm-up are timed by: the steady clock unless tests give the
    // simulator's. A clock that jumps (a test's) is followed by CatchUp,
    // which returns once the thread has taken every step then due: the
    // exposure's poll, its download, a cooler reading.
    using TimeSource = std::function<std::chrono::steady_clock::time_point()>;
    void UseClock(TimeSource now);
    void CatchUp();

    // Called, on the camera's thread, with every cooling reading the
    // device takes; it must not call back into the device.
    using CoolingListener = std::function<void(const CoolingSample&)>;
    void ListenToCooling(CoolingListener listener);

private:
    // The device as the thread last published it; never changed after.
    struct Snapshot {
        bool connected = false;
        CameraIdentity identity;  // of the camera held, connected or warming up
        FrameSettings frame;
        CameraState state = CameraState::kIdle;
        Answer<int> percent = 0;
        std::shared_ptr<const Image> image;
        std::optional<double> lastDuration;
        std::string lastStart;
        std::string lastError;
        std::optional<CoolingReading> cooling;  // the latest reading, when it succeeded
        std::string coolingProblem;             // why the latest reading failed
        bool coolerOn = false;
        std::optional<std::int32_t> askedSetpoint;
        bool warmingUp = false;
        std::optional<std::int32_t> limit;
    };

    // How the exposure under way was asked for, for its image.
    struct ExposureRecord {
        double seconds = 0;
        Frame frame;
        imaging::ImageType type = imaging::ImageType::kLight;
        std::optional<CoolingReading> cooling;
    };

    std::shared_ptr<const Snapshot> LatestSnapshot() const;
    // `read` of the latest snapshot, or NotConnected.
    template <typename T, typename Read>
    Answer<T> WhenConnected(Read read) const;
    // Hands `work` to the camera's thread and waits for its answer;
    // `member` names the action when it is refused.
    Failure Act(const char* member, const std::function<Failure()>& work);

    // The rest runs on the camera's thread.
    OwnerThread::Duration Steps();
    void Publish();
    Failure Start(double seconds, imaging::ImageType type, const FrameSettings& asked);
    void FollowExposure(double now);
    bool DownloadStep(std::uint64_t received, std::uint64_t total);
    void TakeImage(const DownloadResult& download);
    Answer<int> PercentNow() const;
    void TakeCoolerReading();
    // Reads the camera and moves the cooler's rules along.
    CoolingResult ReadCooler();
    // The camera's cooling reading, kept and told to the listener.
    CoolingResult ReadCooling();
    // A reading taken (as an exposure starts), kept and told alike.
    const CoolingResult& Noted(const CoolingResult& read);
    Failure SendSetpoint(std::int32_t tenths);
    void LetCameraGo();
    double Seconds() const;

    mutable std::mutex snapshotMutex;
    std::shared_ptr<const Snapshot> snapshot;  // under snapshotMutex
    std::mutex listenerMutex;
    CoolingListener coolingListener;  // under listenerMutex
    // Set by AbortExposure: a download under way stops after its read.
    std::atomic<bool> dropDownload{false};

    // The camera's thread's own, from here to `owner`.
    TimeSource now;
    // Held while connected, and after a disconnect until the warm-up ends.
    std::unique_ptr<Camera> camera;
    bool connected = false;
    CameraIdentity identity;
    FrameSettings frame;  // as clients set it; checked when an exposure starts

    CameraState state = CameraState::kIdle;
    // Over the connected camera; made at connecting.
    std::optional<ExposureSession> session;
    double nextPoll = 0;  // Seconds() when the session wants its next poll
    double fraction = 0;  // of the exposure time, at the last poll
    int downloadPercent = 0;
    ExposureRecord exposure;  // the last one started
    std::shared_ptr<const Image> image;
    std::uint64_t frames = 0;  // the last image's number
    std::optional<double> lastDuration;
    std::string lastStart;
    std::string lastError;

    bool coolerOn = false;  // the switch as clients set it
    CoolerControl cooler;   // with the setpoint last asked of this camera
    double nextReading = 0;
    std::optional<CoolingReading> cooling;
    std::string coolingProblem;
    std::vector<std::uint8_t> buffer;  // the image as it arrives
    std::vector<std::uint16_t> rows;   // ... as the machine's numbers

    // Last: its thread starts once everything it touches exists.
    OwnerThread owner;
};

}  // namespace tarnscsi::alpaca
