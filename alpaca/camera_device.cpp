#include "camera_device.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <thread>

#include <tarnscsi/units.h>

namespace tarnscsi::alpaca {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kTickInterval = std::chrono::seconds(1);
// How often a reader waiting for the lock looks whether a download took it.
constexpr auto kLockPoll = std::chrono::milliseconds(1);
// Frame values beyond this are off any sensor; clamping keeps the
// arithmetic of the frame checks away from overflow.
constexpr std::int64_t kFarOff = 1 << 24;

Failure NotConnected() {
    return {kNotConnected, "the camera is not connected: set Connected to true (or call Connect) first"};
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

bool CameraDevice::LockUnlessDownloading(std::unique_lock<std::mutex>& lock) {
    // A short hold (another client's read, the ticker) is waited out; a
    // download is not. Polled with a plain try_lock: a timed lock goes
    // through pthread_mutex_clocklock, which GCC 12's ThreadSanitizer does
    // not see, so it would report the unlock that follows as a misuse.
    for (;;) {
        if (lock.try_lock()) return true;
        if (downloading) return false;
        std::this_thread::sleep_for(kLockPoll);
    }
}

CameraDevice::Latest CameraDevice::LatestState() const {
    std::lock_guard hold(latestMutex);
    return latest;
}

void CameraDevice::Publish() {
    std::lock_guard hold(latestMutex);
    latest.connected = connected;
    latest.state = state;
    latest.percent = PercentNow();
    latest.imageReady = image != nullptr;
}

CoolingResult CameraDevice::ReadCooling() { return Noted(camera->ReadCooling()); }

const CoolingResult& CameraDevice::Noted(const CoolingResult& read) {
    if (read) {
        std::lock_guard hold(latestMutex);
        latest.cooling = read.reading;
        latest.coolingTime = now();
    }
    if (read && coolingListener) {
        std::optional<double> working;
        if (const auto asked = cooler.AskedSetpoint(); coolerOn && asked) working = TenthsToCelsius(*asked);
        coolingListener({now(), read.reading, working});
    }
    return read;
}

Failure CameraDevice::NeedConnection() const {
    if (connected) return {};
    return NotConnected();
}

Failure CameraDevice::CameraFailed(const std::string& what, const CommandResult& result) const {
    return {kCameraFailure, what + ": " + result.Explained()};
}

double CameraDevice::Seconds() const { return SteadySeconds(now()); }

Failure CameraDevice::Connect() {
    std::lock_guard lock(mutex);
    if (connected) return {};
    if (camera) {  // kept for its warm-up, which goes on
        connected = true;
        Publish();
        return {};
    }
    ConnectError error = ConnectError::kNone;
    std::string detail;
    camera = Camera::Open(error, detail);
    if (!camera) {
        return {kCameraFailure, "Connect: " + ConnectFailureExplained(error, detail)};
    }
    // A setpoint asked of another camera is not this one's.
    const CameraIdentity found = camera->Identity();
    if (found.vendor != identity.vendor || found.product != identity.product || found.adapter != identity.adapter ||
        found.target != identity.target) {
        cooler = CoolerControl{};
    }
    identity = found;
    session.emplace(*camera);
    // The camera has no cooler switch: its cooler is on when it works.
    if (const CoolingResult read = ReadCooling()) cooler.Connected(read.reading);
    coolerOn = cooler.On();
    connected = true;
    Publish();
    return {};
}

void CameraDevice::Disconnect() {
    std::lock_guard lock(mutex);
    if (!camera) return;
    connected = false;
    if (session) session->Abort(Seconds());
    state = CameraState::kIdle;
    Publish();
    // A warm-up under way goes on (Tick lets the camera go when it ends): a
    // client that switches the cooler off, disconnects and exits must not
    // leave the sensor cold, nor wait minutes for its answer. A cooler left
    // on keeps its setpoint, as ASCOM clients expect.
    if (!cooler.WarmingUp()) {
        session.reset();
        camera.reset();
    }
}

bool CameraDevice::Connected() {
    std::unique_lock lock(mutex, std::defer_lock);
    if (!LockUnlessDownloading(lock)) return LatestState().connected;
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

Failure CameraDevice::StartExposure(double seconds, bool light) {
    std::lock_guard lock(mutex);
    if (auto failure = NeedConnection()) return failure;
    return Start(seconds, light ? imaging::ImageType::kLight : imaging::ImageType::kDark,
                 {bin, startX, startY, numX, numY});
}

Failure CameraDevice::StartExposure(double seconds, imaging::ImageType type, const FrameSettings& frame) {
    std::lock_guard lock(mutex);
    if (auto failure = NeedConnection()) return failure;
    return Start(seconds, type, frame);
}

Failure CameraDevice::Start(double seconds, imaging::ImageType type, const FrameSettings& asked) {
    Follow();
    if (session->Active()) {
        return {kInvalidOperation, "an exposure is under way: wait for ImageReady or call AbortExposure"};
    }
    const int binning = Clamped(asked.bin);
    if (std::string problem = BinningProblem(binning, binning); !problem.empty()) return {kInvalidValue, problem};
    // In unbinned pixels each side is a whole number of binned pixels, so
    // the image is NumX x NumY whenever the frame is taken.
    const Frame frame{Unbinned(asked.startX, binning), Unbinned(asked.startY, binning), Unbinned(asked.numX, binning),
                      Unbinned(asked.numY, binning), binning};
    // The sensor's temperature as the exposure starts, for the frame's header.
    const ExposureStart start = session->Start(frame, seconds, Seconds(), StartReading::kCooling);
    if (start.outcome == StartOutcome::kInvalidTime) return {kInvalidValue, "Duration: " + start.message};
    if (start.outcome == StartOutcome::kInvalidFrame) {
        return {kInvalidValue, "StartX " + std::to_string(asked.startX) + ", StartY " + std::to_string(asked.startY) +
                                   ", NumX " + std::to_string(asked.numX) + ", NumY " + std::to_string(asked.numY) +
                                   " at binning " + std::to_string(binning) + ": " + start.message};
    }
    std::optional<CoolingReading> coolingAtStart;
    if (start.cooling && Noted(*start.cooling)) coolingAtStart = start.cooling->reading;
    if (!start) {
        state = CameraState::kError;
        lastError = "StartExposure: " + start.message;
        return {kCameraFailure, lastError};
    }
    bin = binning;
    startX = asked.startX;
    startY = asked.startY;
    numX = asked.numX;
    numY = asked.numY;
    exposure = ExposureRecord{seconds, frame, type, coolingAtStart};
    fraction = 0;
    image.reset();
    lastStart = UtcTimestamp(session->StartedAt());
    lastError.clear();
    state = CameraState::kExposing;
    exposureEnd = Seconds() + seconds;
    Publish();
    return {};
}

void CameraDevice::Follow() {
    if (!session || !session->Active() || !connected) return;
    // Once the time is over a poll may download: readers meanwhile get
    // the state as it was.
    struct Downloading {
        CameraDevice& device;
        explicit Downloading(CameraDevice& d, bool may) : device(d) { device.downloading = may; }
        ~Downloading() {
            device.Publish();
            device.downloading = false;
        }
    } during(*this, Seconds() >= exposureEnd);
    const ExposureStatus status = session->Poll(Seconds(), buffer);
    fraction = status.fraction;
    switch (status.phase) {
        case ExposurePhase::kIdle: return;
        case ExposurePhase::kExposing: state = CameraState::kExposing; return;
        case ExposurePhase::kReadingOut: state = CameraState::kReading; return;
        case ExposurePhase::kFailed:
            state = CameraState::kError;
            lastError = status.message;
            return;
        case ExposurePhase::kDone: break;
    }
    const DownloadResult& download = status.download;
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
    next->seconds = exposure.seconds;
    next->started = session->StartedAt();
    next->start = lastStart;
    next->frame = got;
    next->type = exposure.type;
    next->number = ++frames;
    next->cooling = exposure.cooling;
    if (const auto asked = cooler.AskedSetpoint(); coolerOn && asked) next->setpoint = TenthsToCelsius(*asked);
    image = std::move(next);
    lastDuration = session->Seconds();
    state = CameraState::kIdle;
}

Failure CameraDevice::AbortExposure() {
    std::lock_guard lock(mutex);
    if (auto failure = NeedConnection()) return failure;
    Follow();
    // The camera keeps its exposure until the next SET WINDOW abandons it;
    // this frame is dropped either way.
    if (session->Active()) {
        session->Abort(Seconds());
        image.reset();
        state = CameraState::kIdle;
        Publish();
    }
    return {};
}

Answer<CameraState> CameraDevice::State() {
    std::unique_lock lock(mutex, std::defer_lock);
    if (!LockUnlessDownloading(lock)) {
        const Latest last = LatestState();
        if (!last.connected) return NotConnected();
        return last.state;
    }
    if (auto failure = NeedConnection()) return failure;
    Follow();
    return state;
}

Answer<int> CameraDevice::PercentCompleted() {
    std::unique_lock lock(mutex, std::defer_lock);
    if (!LockUnlessDownloading(lock)) {
        const Latest last = LatestState();
        if (!last.connected) return NotConnected();
        return last.percent;
    }
    if (auto failure = NeedConnection()) return failure;
    Follow();
    return PercentNow();
}

Answer<int> CameraDevice::PercentNow() const {
    switch (state) {
        case CameraState::kExposing: return std::clamp(static_cast<int>(fraction * 100.0), 0, 100);
        case CameraState::kReading:
        case CameraState::kDownload: return 100;
        case CameraState::kError: return Failure{kInvalidOperation, "the last exposure failed: " + lastError};
        case CameraState::kIdle:
        case CameraState::kWaiting: break;
    }
    return image ? 100 : 0;
}

Answer<bool> CameraDevice::ImageReady() {
    std::unique_lock lock(mutex, std::defer_lock);
    if (!LockUnlessDownloading(lock)) {
        const Latest last = LatestState();
        if (!last.connected) return NotConnected();
        return last.imageReady;
    }
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

CoolingResult CameraDevice::ReadCooler() {
    const CoolingResult read = ReadCooling();
    if (!read) return read;
    const CoolerStep step = cooler.Poll(read.reading, Seconds());
    // A failed warm-up step is tried again at the next reading.
    if (step.write) camera->SetTemperature(*step.write);
    return read;
}

Answer<CoolingReading> CameraDevice::Cooling(const char* member) {
    std::unique_lock lock(mutex, std::defer_lock);
    const bool locked = LockUnlessDownloading(lock);
    const Latest last = LatestState();
    if (!locked) {
        if (!last.connected) return NotConnected();
        // Taken before the download, which no reading can pass.
        if (last.cooling) return *last.cooling;
        lock.lock();
    }
    if (auto failure = NeedConnection()) return failure;
    if (last.cooling && now() - last.coolingTime < kReadingLifetime) return *last.cooling;
    const CoolingResult read = ReadCooler();
    if (!read) return CameraFailed(member, read.command);
    return read.reading;
}

Answer<double> CameraDevice::CcdTemperature() {
    auto reading = Cooling("CCDTemperature");
    if (auto* failure = std::get_if<Failure>(&reading)) return *failure;
    return TenthsToCelsius(std::get<CoolingReading>(reading).temperature);
}

Answer<double> CameraDevice::CoolerPower() {
    auto reading = Cooling("CoolerPower");
    if (auto* failure = std::get_if<Failure>(&reading)) return *failure;
    return DriveToPercent(std::get<CoolingReading>(reading).coolerDrive);
}

Answer<bool> CameraDevice::CoolerOn() {
    std::lock_guard lock(mutex);
    if (auto failure = NeedConnection()) return failure;
    return coolerOn;
}

Failure CameraDevice::SendSetpoint(std::int32_t tenths) {
    const OperationResult written = camera->SetTemperature(tenths);
    if (!written) return CameraFailed("SetCCDTemperature", written.command);
    cooler.SetpointWritten(tenths);
    return {};
}

Failure CameraDevice::SetCoolerOn(bool on) {
    std::lock_guard lock(mutex);
    if (auto failure = NeedConnection()) return failure;
    if (on) {
        coolerOn = true;
        // The camera has no cooler switch: the cooler works once it has a setpoint.
        const auto asked = cooler.AskedSetpoint();
        return asked ? SendSetpoint(*asked) : Failure{};
    }
    if (!coolerOn) return {};
    // Off: the setpoint rises gently to the surroundings, never at once.
    const CoolingResult read = ReadCooling();
    if (!read) return CameraFailed("CoolerOn", read.command);
    coolerOn = false;
    cooler.StartWarmUp(read.reading, kDefaultWarmUpRate, Seconds());
    return {};
}

Answer<double> CameraDevice::SetCcdTemperature() {
    std::lock_guard lock(mutex);
    if (auto failure = NeedConnection()) return failure;
    // Readable at any time (clients read it to restore it later): the
    // setpoint last asked of this camera, else the one its cooler idles at,
    // since the camera cannot tell its own. One it cannot reach is still
    // this value; the status says where the sensor levels off.
    return TenthsToCelsius(cooler.AskedSetpoint().value_or(kIdleSetpoint));
}

Failure CameraDevice::SetSetCcdTemperature(double celsius) {
    std::lock_guard lock(mutex);
    if (auto failure = NeedConnection()) return failure;
    if (const std::string problem = SetpointProblem(celsius); !problem.empty()) {
        return {kInvalidValue, "SetCCDTemperature: " + problem};
    }
    const std::int32_t tenths = CelsiusToTenths(celsius);
    cooler.SetpointAsked(tenths);
    if (!coolerOn) return {};  // kept until the cooler is switched on
    return SendSetpoint(tenths);
}

void CameraDevice::Tick() {
    std::lock_guard lock(mutex);
    if (!camera) return;
    // The rules move on with every reading: the warm-up's steps, and a
    // setpoint the cooler cannot reach, told while no client asks.
    if (!cooler.WarmingUp() && !cooler.ActiveSetpoint()) return;
    const bool wasWarming = cooler.WarmingUp();
    const CoolingResult read = ReadCooler();
    // With no client connected the camera is let go once warmed up, or as
    // it is when it cannot be read.
    if (!connected && wasWarming && (!read || !cooler.WarmingUp())) {
        session.reset();
        camera.reset();
    }
}

DeviceStatus CameraDevice::Status() {
    std::lock_guard lock(mutex);
    DeviceStatus status;
    status.connected = connected;
    if (camera) {
        Follow();
        status.identity = identity;
        if (const CoolingResult read = ReadCooling()) status.cooling = read.reading;
    }
    status.state = state;
    if (const auto asked = cooler.AskedSetpoint()) status.setpoint = TenthsToCelsius(*asked);
    status.coolerOn = coolerOn;
    status.warmingUp = cooler.WarmingUp();
    if (const auto limit = cooler.OutOfReachLimit()) status.limit = TenthsToCelsius(*limit);
    status.lastDuration = lastDuration;
    status.lastStart = lastStart;
    status.imageReady = image != nullptr;
    status.lastError = lastError;
    return status;
}

}  // namespace tarnscsi::alpaca
