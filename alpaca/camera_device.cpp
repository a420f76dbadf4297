#include "camera_device.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include <tarnscsi/units.h>

#include "readout_allowance.h"

namespace tarnscsi::alpaca {
namespace {

using Clock = std::chrono::steady_clock;

// TEST UNIT READY ends with this sense key while the camera exposes or reads
// out: the exposure is still under way.
constexpr std::uint8_t kSenseNotReady = 0x02;
// A setpoint below this is no temperature at all.
constexpr double kAbsoluteZeroCelsius = -273.15;
constexpr auto kTickInterval = std::chrono::seconds(1);
// Frame values beyond this are off any sensor; clamping keeps the
// arithmetic of the frame checks away from overflow.
constexpr std::int64_t kFarOff = 1 << 24;

std::string UtcText(std::chrono::system_clock::time_point now) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    char withMillis[40];
    std::snprintf(withMillis, sizeof withMillis, "%s.%03d", text, static_cast<int>(millis));
    return withMillis;
}

int Clamped(std::int64_t value) { return static_cast<int>(std::clamp(value, -kFarOff, kFarOff)); }

// A binned count in unbinned pixels, without overflow.
int Unbinned(std::int64_t binned, int bin) { return Clamped(std::clamp(binned, -kFarOff, kFarOff) * bin); }

}  // namespace

CameraDevice::CameraDevice()
    : now([] { return Clock::now(); }),
      buffer(static_cast<std::size_t>(kSensorWidth) * kSensorHeight * kBytesPerPixel) {
    ticker = std::thread([this] { TickLoop(); });
}

CameraDevice::~CameraDevice() {
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    stopSignal.notify_all();
    ticker.join();
}

void CameraDevice::TickLoop() {
    std::unique_lock lock(mutex);
    while (!stopping) {
        stopSignal.wait_for(lock, kTickInterval);
        if (stopping) break;
        lock.unlock();
        Tick();
        lock.lock();
    }
}

void CameraDevice::UseClock(TimeSource source) {
    std::lock_guard lock(mutex);
    now = std::move(source);
}

void CameraDevice::ListenToCooling(CoolingListener listener) {
    std::lock_guard lock(mutex);
    coolingListener = std::move(listener);
}

std::optional<CoolingReading> CameraDevice::ReadCooling() {
    auto reading = camera->ReadCooling();
    if (reading && coolingListener) {
        std::optional<double> working;
        if (coolerOn && setpoint) working = TenthsToCelsius(*setpoint);
        coolingListener({now(), *reading, working});
    }
    return reading;
}

Failure CameraDevice::NeedConnection() const {
    if (connected) return {};
    return {kNotConnected, "the camera is not connected: set Connected to true (or call Connect) first"};
}

Failure CameraDevice::CameraFailed(const std::string& what) const {
    const CommandResult& result = camera->LastResult();
    std::string message = what + ": " + result.Describe();
    if (const std::string advice = result.Advice(); !advice.empty()) message += ". " + advice;
    return {kCameraFailure, message};
}

Failure CameraDevice::Connect() {
    std::lock_guard lock(mutex);
    if (connected) return {};
    if (camera) {  // kept for its warm-up, which goes on
        connected = true;
        return {};
    }
    ConnectError error = ConnectError::kNone;
    std::string detail;
    camera = Camera::Open(error, detail);
    if (!camera) {
        std::string message = std::string("Connect: ") + ConnectErrorText(error);
        if (!detail.empty()) message += " (" + detail + ")";
        if (const char* advice = ConnectAdvice(error); advice && *advice) message += ". " + std::string(advice);
        return {kCameraFailure, message};
    }
    identity = camera->Identity();
    if (const auto reading = ReadCooling()) coolerOn = reading->coolerDrive > 0;
    connected = true;
    return {};
}

void CameraDevice::Disconnect() {
    std::lock_guard lock(mutex);
    connected = false;
    exposure.reset();
    state = CameraState::kIdle;
    // A warm-up under way goes on (Tick lets the camera go when it ends): a
    // client that disconnects and exits must not leave the sensor cold, nor
    // wait minutes for its answer.
    if (!warmUp) camera.reset();
}

bool CameraDevice::Connected() {
    std::lock_guard lock(mutex);
    return connected;
}

Answer<CameraIdentity> CameraDevice::Identity() {
    std::lock_guard lock(mutex);
    if (auto failure = NeedConnection()) return failure;
    return identity;
}

Answer<int> CameraDevice::Bin() {
    std::lock_guard lock(mutex);
    if (auto failure = NeedConnection()) return failure;
    return bin;
}

Failure CameraDevice::SetBin(std::int64_t value) {
    std::lock_guard lock(mutex);
    if (auto failure = NeedConnection()) return failure;
    const int asked = Clamped(value);
    if (std::string problem = BinningProblem(asked, asked); !problem.empty()) return {kInvalidValue, problem};
    bin = asked;  // the camera bins alike on both axes: BinX and BinY are one value
    return {};
}

#define TARNSCSI_FRAME_MEMBER(Name, field)                   \
    Answer<std::int64_t> CameraDevice::Name() {              \
        std::lock_guard lock(mutex);                         \
        if (auto failure = NeedConnection()) return failure; \
        return field;                                        \
    }                                                        \
    Failure CameraDevice::Set##Name(std::int64_t value) {    \
        std::lock_guard lock(mutex);                         \
        if (auto failure = NeedConnection()) return failure; \
        field = value;                                       \
        return {};                                           \
    }
TARNSCSI_FRAME_MEMBER(NumX, numX)
TARNSCSI_FRAME_MEMBER(NumY, numY)
TARNSCSI_FRAME_MEMBER(StartX, startX)
TARNSCSI_FRAME_MEMBER(StartY, startY)
#undef TARNSCSI_FRAME_MEMBER

// `light` only labels the frame: the camera has no shutter.
Failure CameraDevice::StartExposure(double seconds, bool light) {
    std::lock_guard lock(mutex);
    if (auto failure = NeedConnection()) return failure;
    Follow();
    if (state == CameraState::kExposing || state == CameraState::kReading || state == CameraState::kDownload) {
        return {kInvalidOperation, "an exposure is under way: wait for ImageReady or call AbortExposure"};
    }
    if (!(seconds >= kMinExposureSeconds && seconds <= kMaxExposureSeconds)) {
        return {kInvalidValue, "Duration " + std::to_string(seconds) + " s is outside " +
                                   std::to_string(kMinExposureSeconds) + " .. " + std::to_string(kMaxExposureSeconds) +
                                   " s"};
    }
    const Frame frame{Unbinned(startX, bin), Unbinned(startY, bin), Unbinned(numX, bin), Unbinned(numY, bin), bin};
    if (std::string problem = FrameProblem(frame); !problem.empty()) {
        return {kInvalidValue, "StartX " + std::to_string(startX) + ", StartY " + std::to_string(startY) + ", NumX " +
                                   std::to_string(numX) + ", NumY " + std::to_string(numY) + " at binning " +
                                   std::to_string(bin) + ": " + problem};
    }
    const ExposureSettings window = WindowFor(frame, SecondsToMilliseconds(seconds));
    const int width = BinnedSize(window.width, bin);
    const int height = BinnedSize(window.height, bin);
    if (width != numX || height != numY) {
        return {kInvalidValue, "for this frame the camera gives " + std::to_string(width) + " x " +
                                   std::to_string(height) + " pixels, not NumX " + std::to_string(numX) + " x NumY " +
                                   std::to_string(numY)};
    }
    // The sensor's temperature as the exposure starts, for the frame's header.
    const auto coolingAtStart = ReadCooling();
    if (!camera->Expose(window)) {
        state = CameraState::kError;
        lastError = CameraFailed("StartExposure").message;
        return {kCameraFailure, lastError};
    }
    const auto started = std::chrono::system_clock::now();
    exposure = Exposure{now(), seconds, frame, light, coolingAtStart, started};
    image.reset();
    lastStart = UtcText(started);
    lastError.clear();
    state = CameraState::kExposing;
    return {};
}

void CameraDevice::Follow() {
    if (!exposure || !connected) return;
    if (!camera->Ready()) {
        const CommandResult& result = camera->LastResult();
        const bool busy = (result.Outcome() == CommandOutcome::kCheckCondition && result.sense.valid &&
                           result.sense.key == kSenseNotReady) ||
                          result.Outcome() == CommandOutcome::kTargetStatus;
        const std::chrono::duration<double> elapsed = now() - exposure->start;
        if (busy && ReadoutOverdue(exposure->seconds, elapsed.count())) {
            state = CameraState::kError;
            char text[160];
            std::snprintf(text, sizeof text,
                          "the camera did not finish the exposure within %.0f s of its start (%.3f s exposure and "
                          "%.0f s to read out)",
                          elapsed.count(), exposure->seconds, kReadoutAllowanceSeconds);
            lastError = std::string(text) + "; it still answers " + result.Describe() +
                        ". Start a new exposure; if this repeats, check the camera and its cable";
            exposure.reset();
            return;
        }
        if (busy) {
            state = elapsed.count() < exposure->seconds ? CameraState::kExposing : CameraState::kReading;
            return;
        }
        state = CameraState::kError;
        lastError = CameraFailed("waiting for the exposure").message;
        exposure.reset();
        return;
    }
    state = CameraState::kDownload;
    const DownloadResult download = camera->Download(buffer);
    if (!download) {
        state = CameraState::kError;
        lastError = "downloading the image: " + download.message;
        exposure.reset();
        return;
    }
    const Frame got = FrameOf(download.window);
    auto next = std::make_shared<Image>();
    next->width = BinnedSize(got.width, got.binning);
    next->height = BinnedSize(got.height, got.binning);
    const std::size_t w = static_cast<std::size_t>(next->width);
    const std::size_t h = static_cast<std::size_t>(next->height);
    rows.resize(w * h);
    PixelsFromCamera(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(download.received)), rows);
    next->columns.resize(w * h);
    for (std::size_t y = 0; y < h; ++y) {
        for (std::size_t x = 0; x < w; ++x) next->columns[x * h + y] = rows[y * w + x];
    }
    next->seconds = exposure->seconds;
    next->started = exposure->started;
    next->start = lastStart;
    next->frame = got;
    next->light = exposure->light;
    next->cooling = exposure->cooling;
    if (coolerOn && setpoint) next->setpoint = TenthsToCelsius(*setpoint);
    image = std::move(next);
    lastDuration = exposure->seconds;
    exposure.reset();
    state = CameraState::kIdle;
}

Failure CameraDevice::AbortExposure() {
    std::lock_guard lock(mutex);
    if (auto failure = NeedConnection()) return failure;
    Follow();
    // The camera keeps its exposure until the next SET WINDOW abandons it;
    // this frame is dropped either way.
    if (exposure) {
        exposure.reset();
        image.reset();
        state = CameraState::kIdle;
    }
    return {};
}

Answer<CameraState> CameraDevice::State() {
    std::lock_guard lock(mutex);
    if (auto failure = NeedConnection()) return failure;
    Follow();
    return state;
}

Answer<int> CameraDevice::PercentCompleted() {
    std::lock_guard lock(mutex);
    if (auto failure = NeedConnection()) return failure;
    Follow();
    switch (state) {
        case CameraState::kExposing: {
            if (!exposure || exposure->seconds <= 0) return 100;
            const std::chrono::duration<double> elapsed = now() - exposure->start;
            return std::clamp(static_cast<int>(elapsed.count() / exposure->seconds * 100.0), 0, 100);
        }
        case CameraState::kReading:
        case CameraState::kDownload: return 100;
        case CameraState::kError: return Failure{kInvalidOperation, "the last exposure failed: " + lastError};
        case CameraState::kIdle:
        case CameraState::kWaiting: break;
    }
    return image ? 100 : 0;
}

Answer<bool> CameraDevice::ImageReady() {
    std::lock_guard lock(mutex);
    if (auto failure = NeedConnection()) return failure;
    Follow();
    return image != nullptr;
}

Answer<double> CameraDevice::LastExposureDuration() {
    std::lock_guard lock(mutex);
    if (auto failure = NeedConnection()) return failure;
    if (!lastDuration) return Failure{kValueNotSet, "no exposure has finished yet"};
    return *lastDuration;
}

Answer<std::string> CameraDevice::LastExposureStartTime() {
    std::lock_guard lock(mutex);
    if (auto failure = NeedConnection()) return failure;
    if (lastStart.empty()) return Failure{kValueNotSet, "no exposure has started yet"};
    return lastStart;
}

Answer<std::shared_ptr<const Image>> CameraDevice::LastImage() {
    std::lock_guard lock(mutex);
    if (auto failure = NeedConnection()) return failure;
    Follow();
    if (!image) {
        if (state == CameraState::kError) return Failure{kInvalidOperation, "the last exposure failed: " + lastError};
        return Failure{kInvalidOperation, "there is no image: start an exposure and wait for ImageReady"};
    }
    return image;
}

Answer<double> CameraDevice::CcdTemperature() {
    std::lock_guard lock(mutex);
    if (auto failure = NeedConnection()) return failure;
    const auto reading = ReadCooling();
    if (!reading) return CameraFailed("CCDTemperature");
    return TenthsToCelsius(reading->temperature);
}

Answer<double> CameraDevice::CoolerPower() {
    std::lock_guard lock(mutex);
    if (auto failure = NeedConnection()) return failure;
    const auto reading = ReadCooling();
    if (!reading) return CameraFailed("CoolerPower");
    return DriveToPercent(reading->coolerDrive);
}

Answer<bool> CameraDevice::CoolerOn() {
    std::lock_guard lock(mutex);
    if (auto failure = NeedConnection()) return failure;
    return coolerOn;
}

Failure CameraDevice::SendSetpoint(std::int32_t tenths) {
    if (!camera->SetTemperature(tenths)) return CameraFailed("SetCCDTemperature");
    return {};
}

Failure CameraDevice::SetCoolerOn(bool on) {
    std::lock_guard lock(mutex);
    if (auto failure = NeedConnection()) return failure;
    if (on) {
        warmUp.reset();
        coolerOn = true;
        // The camera has no cooler switch: the cooler works once it has a setpoint.
        return setpoint ? SendSetpoint(*setpoint) : Failure{};
    }
    if (!coolerOn) return {};
    // Off: the setpoint rises gently to the surroundings, never at once.
    const auto reading = ReadCooling();
    if (!reading) return CameraFailed("CoolerOn");
    coolerOn = false;
    warmUp.emplace(reading->temperature, kDefaultWarmUpRate);
    warmUpStart = now();
    return {};
}

Answer<double> CameraDevice::SetCcdTemperature() {
    std::lock_guard lock(mutex);
    if (auto failure = NeedConnection()) return failure;
    if (!setpoint) return Failure{kValueNotSet, "no setpoint has been set yet"};
    return TenthsToCelsius(*setpoint);
}

Failure CameraDevice::SetSetCcdTemperature(double celsius) {
    std::lock_guard lock(mutex);
    if (auto failure = NeedConnection()) return failure;
    if (!(celsius >= kAbsoluteZeroCelsius && celsius <= kMaxSetpointFieldCelsius)) {
        return {kInvalidValue, "SetCCDTemperature " + std::to_string(celsius) + " C is outside " +
                                   std::to_string(kAbsoluteZeroCelsius) + " .. " +
                                   std::to_string(kMaxSetpointFieldCelsius) + " C"};
    }
    setpoint = CelsiusToTenths(celsius);
    if (!coolerOn) return {};  // kept until the cooler is switched on
    return SendSetpoint(*setpoint);
}

void CameraDevice::Tick() {
    std::lock_guard lock(mutex);
    if (!warmUp || !camera) return;
    const auto reading = ReadCooling();
    const std::chrono::duration<double> elapsed = now() - warmUpStart;
    const bool stepped = reading && camera->SetTemperature(warmUp->Setpoint(elapsed.count(), *reading));
    // A failed step is tried again at the next tick while a client is
    // connected; with none, the camera is let go as it is.
    if (stepped ? !warmUp->Done() : connected) return;
    warmUp.reset();
    if (!connected) camera.reset();
}

DeviceStatus CameraDevice::Status() {
    std::lock_guard lock(mutex);
    DeviceStatus status;
    status.connected = connected;
    if (camera) {
        Follow();
        status.identity = identity;
        status.cooling = ReadCooling();
    }
    status.state = state;
    if (setpoint) status.setpoint = TenthsToCelsius(*setpoint);
    status.coolerOn = coolerOn;
    status.warmingUp = warmUp.has_value();
    status.lastDuration = lastDuration;
    status.lastStart = lastStart;
    status.imageReady = image != nullptr;
    status.lastError = lastError;
    return status;
}

}  // namespace tarnscsi::alpaca
