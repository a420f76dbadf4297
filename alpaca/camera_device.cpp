#include "camera_device.h"

#include <algorithm>
#include <cmath>

#include <tarnscsi/units.h>

namespace tarnscsi::alpaca {
namespace {

using Clock = std::chrono::steady_clock;

// The longest the camera's thread sleeps: a test's clock may have moved
// meanwhile without a word.
constexpr double kLongestSleepSeconds = 1;
constexpr double kCoolerReadSeconds = std::chrono::duration<double>(kCoolerReadInterval).count();
constexpr int kWholeImage = 100;  // percent
// Frame values beyond this are off any sensor; clamping keeps the
// arithmetic of the frame checks away from overflow.
constexpr std::int64_t kFarOff = 1 << 24;

Failure NotConnected() {
    return {kNotConnected, "the camera is not connected: set Connected to true (or call Connect) first"};
}

int Clamped(std::int64_t value) { return static_cast<int>(std::clamp(value, -kFarOff, kFarOff)); }

// A binned count in unbinned pixels, without overflow.
int Unbinned(std::int64_t binned, int bin) { return Clamped(std::clamp(binned, -kFarOff, kFarOff) * bin); }

Failure CameraFailed(const std::string& what, const CommandResult& result) {
    return {kCameraFailure, what + ": " + result.Explained()};
}

}  // namespace

CameraDevice::CameraDevice()
    : snapshot(std::make_shared<const Snapshot>()),
      now([] { return Clock::now(); }),
      buffer(static_cast<std::size_t>(kSensorWidth) * kSensorHeight * kBytesPerPixel),
      owner([this] { return Steps(); }) {}

CameraDevice::~CameraDevice() { owner.Stop(); }

void CameraDevice::UseClock(TimeSource source) {
    owner.Run(
        [&] {
            now = std::move(source);
            // Due at once on the new clock.
            nextPoll = nextReading = Seconds();
        },
        OwnerThread::kForever);
}

void CameraDevice::CatchUp() {
    owner.Run([this] { Steps(); }, OwnerThread::kForever);
}

void CameraDevice::Tick() {
    owner.Run(
        [this] {
            if (!camera) return;
            TakeCoolerReading();
            Publish();
        },
        OwnerThread::kForever);
}

void CameraDevice::ListenToCooling(CoolingListener listener) {
    std::lock_guard lock(listenerMutex);
    coolingListener = std::move(listener);
}

std::shared_ptr<const CameraDevice::Snapshot> CameraDevice::LatestSnapshot() const {
    std::lock_guard lock(snapshotMutex);
    return snapshot;
}

template <typename T, typename Read>
Answer<T> CameraDevice::WhenConnected(Read read) const {
    const std::shared_ptr<const Snapshot> latest = LatestSnapshot();
    if (!latest->connected) return NotConnected();
    return Answer<T>(read(*latest));
}

Failure CameraDevice::Act(const char* member, const std::function<Failure()>& work) {
    Failure answer;
    const auto act = [&] {
        answer = work();
        Publish();
    };
    switch (owner.Run(act, kActionPatience)) {
        case OwnerThread::Outcome::kDone: return answer;
        case OwnerThread::Outcome::kStopped:
            return {kInvalidOperation, std::string(member) + ": the server is stopping"};
        case OwnerThread::Outcome::kWithdrawn: break;
    }
    const std::shared_ptr<const Snapshot> latest = LatestSnapshot();
    const int* percent = std::get_if<int>(&latest->percent);
    const std::string busy = latest->state == CameraState::kDownload && percent
                                 ? "downloading the image (" + std::to_string(*percent) + " % in)"
                                 : "with another client's request";
    return {kInvalidOperation,
            std::string(member) + ": the camera was busy for " + std::to_string(kActionPatience.count()) + " s " +
                busy + "; nothing was done: try again (a slow or stalled bus; check the camera and its cable)"};
}

double CameraDevice::Seconds() const { return SteadySeconds(now()); }

void CameraDevice::Publish() {
    auto next = std::make_shared<Snapshot>();
    next->connected = connected;
    if (camera) {
        next->identity = identity;
        next->cooling = cooling;
        next->coolingProblem = coolingProblem;
    }
    next->frame = frame;
    next->state = state;
    next->percent = PercentNow();
    next->image = image;
    next->lastDuration = lastDuration;
    next->lastStart = lastStart;
    next->lastError = lastError;
    next->coolerOn = coolerOn;
    next->askedSetpoint = cooler.AskedSetpoint();
    next->warmingUp = cooler.WarmingUp();
    next->limit = cooler.OutOfReachLimit();
    std::lock_guard lock(snapshotMutex);
    snapshot = std::move(next);
}

OwnerThread::Duration CameraDevice::Steps() {
    double at = Seconds();
    const auto following = [this] { return connected && session && session->Active(); };
    if (following() && at >= nextPoll) {
        FollowExposure(at);
        Publish();
        at = Seconds();
    }
    if (camera && at >= nextReading) {
        TakeCoolerReading();
        Publish();
        at = Seconds();
    }
    double sleep = kLongestSleepSeconds;
    if (following()) sleep = std::min(sleep, nextPoll - at);
    if (camera) sleep = std::min(sleep, nextReading - at);
    return std::chrono::duration_cast<OwnerThread::Duration>(std::chrono::duration<double>(std::max(0.0, sleep)));
}

Failure CameraDevice::Connect() {
    return Act("Connect", [this]() -> Failure {
        if (connected) return {};
        if (camera) {  // kept for its warm-up, which goes on
            connected = true;
            return {};
        }
        ConnectError error = ConnectError::kNone;
        std::string detail;
        camera = Camera::Open(error, detail);
        if (!camera) return {kCameraFailure, "Connect: " + ConnectFailureExplained(error, detail)};
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
        nextReading = Seconds() + kCoolerReadSeconds;
        coolerOn = cooler.On();
        connected = true;
        return {};
    });
}

Failure CameraDevice::Disconnect() {
    return Act("Disconnect", [this]() -> Failure {
        if (!camera) return {};
        connected = false;
        if (session) session->Abort(Seconds());
        state = CameraState::kIdle;
        // A warm-up under way goes on (the cooler's readings let the camera
        // go when it ends): a client that switches the cooler off,
        // disconnects and exits must not leave the sensor cold, nor wait
        // minutes for its answer. A cooler left on keeps its setpoint, as
        // ASCOM clients expect.
        if (!cooler.WarmingUp()) LetCameraGo();
        return {};
    });
}

void CameraDevice::LetCameraGo() {
    session.reset();
    camera.reset();
    cooling.reset();
    coolingProblem.clear();
}

bool CameraDevice::Connected() const { return LatestSnapshot()->connected; }

Answer<CameraIdentity> CameraDevice::Identity() const {
    return WhenConnected<CameraIdentity>([](const Snapshot& s) { return s.identity; });
}

Answer<int> CameraDevice::Bin() const {
    return WhenConnected<int>([](const Snapshot& s) { return static_cast<int>(s.frame.bin); });
}

Failure CameraDevice::SetBin(std::int64_t value) {
    return Act("BinX", [this, value]() -> Failure {
        if (!connected) return NotConnected();
        const int asked = Clamped(value);
        if (std::string problem = BinningProblem(asked, asked); !problem.empty()) return {kInvalidValue, problem};
        frame.bin = asked;  // the camera bins alike on both axes: BinX and BinY are one value
        return {};
    });
}

#define TARNSCSI_FRAME_MEMBER(Name, field)                                                   \
    Answer<std::int64_t> CameraDevice::Name() const {                                        \
        return WhenConnected<std::int64_t>([](const Snapshot& s) { return s.frame.field; }); \
    }                                                                                        \
    Failure CameraDevice::Set##Name(std::int64_t value) {                                    \
        return Act(#Name, [this, value]() -> Failure {                                       \
            if (!connected) return NotConnected();                                           \
            frame.field = value;                                                             \
            return {};                                                                       \
        });                                                                                  \
    }
TARNSCSI_FRAME_MEMBER(NumX, numX)
TARNSCSI_FRAME_MEMBER(NumY, numY)
TARNSCSI_FRAME_MEMBER(StartX, startX)
TARNSCSI_FRAME_MEMBER(StartY, startY)
#undef TARNSCSI_FRAME_MEMBER

Failure CameraDevice::StartExposure(double seconds, bool light) {
    return Act("StartExposure", [this, seconds, light]() -> Failure {
        if (!connected) return NotConnected();
        return Start(seconds, light ? imaging::ImageType::kLight : imaging::ImageType::kDark, frame);
    });
}

Failure CameraDevice::StartExposure(double seconds, imaging::ImageType type, const FrameSettings& asked) {
    return Act("StartExposure", [this, seconds, type, &asked]() -> Failure {
        if (!connected) return NotConnected();
        return Start(seconds, type, asked);
    });
}

Failure CameraDevice::Start(double seconds, imaging::ImageType type, const FrameSettings& asked) {
    if (session->Active()) {
        return {kInvalidOperation, "an exposure is under way: wait for ImageReady or call AbortExposure"};
    }
    const int binning = Clamped(asked.bin);
    if (std::string problem = BinningProblem(binning, binning); !problem.empty()) return {kInvalidValue, problem};
    // In unbinned pixels each side is a whole number of binned pixels, so
    // the image is NumX x NumY whenever the frame is taken.
    const Frame window{Unbinned(asked.startX, binning), Unbinned(asked.startY, binning), Unbinned(asked.numX, binning),
                       Unbinned(asked.numY, binning), binning};
    // The sensor's temperature as the exposure starts, for the frame's header.
    const ExposureStart start = session->Start(window, seconds, Seconds(), StartReading::kCooling);
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
    frame = asked;
    frame.bin = binning;
    exposure = ExposureRecord{seconds, window, type, coolingAtStart};
    fraction = 0;
    image.reset();
    lastStart = UtcTimestamp(session->StartedAt());
    lastError.clear();
    state = CameraState::kExposing;
    nextPoll = Seconds();  // the camera, not the clock, says when it is done
    return {};
}

void CameraDevice::FollowExposure(double at) {
    const ExposureStatus status = session->Poll(
        at, buffer, [this](std::uint64_t received, std::uint64_t total) { return DownloadStep(received, total); });
    nextPoll = Seconds() + status.nextPoll;
    fraction = status.fraction;
    switch (status.phase) {
        case ExposurePhase::kIdle: return;
        case ExposurePhase::kExposing: state = CameraState::kExposing; return;
        case ExposurePhase::kReadingOut: state = CameraState::kReading; return;
        case ExposurePhase::kFailed:
            if (status.download.status == DownloadStatus::kStopped) {
                state = CameraState::kIdle;  // AbortExposure: the frame is dropped
                return;
            }
            state = CameraState::kError;
            lastError = status.message;
            return;
        case ExposurePhase::kDone: break;
    }
    // An AbortExposure during the last read drops the frame all the same.
    if (!dropDownload) TakeImage(status.download);
    state = CameraState::kIdle;
}

bool CameraDevice::DownloadStep(std::uint64_t received, std::uint64_t total) {
    if (dropDownload) return false;
    const int percent = total > 0 ? static_cast<int>(received * kWholeImage / total) : 0;
    if (state != CameraState::kDownload || percent != downloadPercent) {
        state = CameraState::kDownload;
        downloadPercent = percent;
        Publish();
    }
    return true;
}

void CameraDevice::TakeImage(const DownloadResult& download) {
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
}

Failure CameraDevice::AbortExposure() {
    // A download under way stops after the read it is in: the thread takes
    // this up only once it is over.
    dropDownload = true;
    bool taken = false;
    const Failure answer = Act("AbortExposure", [this, &taken]() -> Failure {
        taken = true;
        dropDownload = false;
        if (!connected) return NotConnected();
        // The camera keeps its exposure until the next SET WINDOW abandons
        // it; this frame is dropped either way.
        if (session->Active()) {
            session->Abort(Seconds());
            image.reset();
            state = CameraState::kIdle;
        }
        return {};
    });
    if (!taken) dropDownload = false;  // refused: nothing was stopped for it
    return answer;
}

Answer<CameraState> CameraDevice::State() const {
    return WhenConnected<CameraState>([](const Snapshot& s) { return s.state; });
}

Answer<int> CameraDevice::PercentCompleted() const {
    return WhenConnected<int>([](const Snapshot& s) { return s.percent; });
}

Answer<int> CameraDevice::PercentNow() const {
    switch (state) {
        case CameraState::kExposing: return std::clamp(static_cast<int>(fraction * kWholeImage), 0, kWholeImage);
        case CameraState::kReading: return kWholeImage;  // of the exposure: the camera does not tell its readout's
        case CameraState::kDownload: return downloadPercent;
        case CameraState::kError: return Failure{kInvalidOperation, "the last exposure failed: " + lastError};
        case CameraState::kIdle:
        case CameraState::kWaiting: break;
    }
    return image ? kWholeImage : 0;
}

Answer<bool> CameraDevice::ImageReady() const {
    return WhenConnected<bool>([](const Snapshot& s) { return s.image != nullptr; });
}

Answer<double> CameraDevice::LastExposureDuration() const {
    return WhenConnected<double>([](const Snapshot& s) -> Answer<double> {
        if (!s.lastDuration) return Failure{kValueNotSet, "no exposure has finished yet"};
        return *s.lastDuration;
    });
}

Answer<std::string> CameraDevice::LastExposureStartTime() const {
    return WhenConnected<std::string>([](const Snapshot& s) -> Answer<std::string> {
        if (s.lastStart.empty()) return Failure{kValueNotSet, "no exposure has started yet"};
        return s.lastStart;
    });
}

Answer<std::shared_ptr<const Image>> CameraDevice::LastImage() const {
    return WhenConnected<std::shared_ptr<const Image>>([](const Snapshot& s) -> Answer<std::shared_ptr<const Image>> {
        if (s.image) return s.image;
        if (s.state == CameraState::kError)
            return Failure{kInvalidOperation, "the last exposure failed: " + s.lastError};
        return Failure{kInvalidOperation, "there is no image: start an exposure and wait for ImageReady"};
    });
}

void CameraDevice::TakeCoolerReading() {
    const bool wasWarming = cooler.WarmingUp();
    const CoolingResult read = ReadCooler();
    nextReading = Seconds() + kCoolerReadSeconds;
    // With no client connected the camera is let go once warmed up, or as
    // it is when it cannot be read.
    if (!connected && wasWarming && (!read || !cooler.WarmingUp())) LetCameraGo();
}

CoolingResult CameraDevice::ReadCooler() {
    const CoolingResult read = ReadCooling();
    if (!read) return read;
    const CoolerStep step = cooler.Poll(read.reading, Seconds());
    // A failed warm-up step is tried again at the next reading.
    if (step.write) camera->SetTemperature(*step.write);
    return read;
}

CoolingResult CameraDevice::ReadCooling() { return Noted(camera->ReadCooling()); }

const CoolingResult& CameraDevice::Noted(const CoolingResult& read) {
    if (!read) {
        coolingProblem = read.command.Explained();
        return read;
    }
    cooling = read.reading;
    coolingProblem.clear();
    std::lock_guard lock(listenerMutex);
    if (coolingListener) {
        std::optional<double> working;
        if (const auto asked = cooler.AskedSetpoint(); coolerOn && asked) working = TenthsToCelsius(*asked);
        coolingListener({now(), read.reading, working});
    }
    return read;
}

Answer<double> CameraDevice::CcdTemperature() const {
    return WhenConnected<double>([](const Snapshot& s) -> Answer<double> {
        if (!s.coolingProblem.empty()) return Failure{kCameraFailure, "CCDTemperature: " + s.coolingProblem};
        if (!s.cooling) return Failure{kValueNotSet, "the cooler has not been read yet"};
        return TenthsToCelsius(s.cooling->temperature);
    });
}

Answer<double> CameraDevice::CoolerPower() const {
    return WhenConnected<double>([](const Snapshot& s) -> Answer<double> {
        if (!s.coolingProblem.empty()) return Failure{kCameraFailure, "CoolerPower: " + s.coolingProblem};
        if (!s.cooling) return Failure{kValueNotSet, "the cooler has not been read yet"};
        return DriveToPercent(s.cooling->coolerDrive);
    });
}

Answer<bool> CameraDevice::CoolerOn() const {
    return WhenConnected<bool>([](const Snapshot& s) { return s.coolerOn; });
}

Failure CameraDevice::SendSetpoint(std::int32_t tenths) {
    const OperationResult written = camera->SetTemperature(tenths);
    if (!written) return CameraFailed("SetCCDTemperature", written.command);
    cooler.SetpointWritten(tenths);
    return {};
}

Failure CameraDevice::SetCoolerOn(bool on) {
    return Act("CoolerOn", [this, on]() -> Failure {
        if (!connected) return NotConnected();
        Failure failure;
        if (on) {
            coolerOn = true;
            // The camera has no cooler switch: the cooler works once it has a setpoint.
            if (const auto asked = cooler.AskedSetpoint()) failure = SendSetpoint(*asked);
        } else if (coolerOn) {
            // Off: the setpoint rises gently to the surroundings, never at once.
            if (const CoolingResult read = ReadCooling()) {
                coolerOn = false;
                cooler.StartWarmUp(read.reading, kDefaultWarmUpRate, Seconds());
            } else {
                failure = CameraFailed("CoolerOn", read.command);
            }
        }
        return failure;
    });
}

Answer<double> CameraDevice::SetCcdTemperature() const {
    // Readable at any time (clients read it to restore it later): the
    // setpoint last asked of this camera, else the one its cooler idles at,
    // since the camera cannot tell its own. One it cannot reach is still
    // this value; the status says where the sensor levels off.
    return WhenConnected<double>(
        [](const Snapshot& s) { return TenthsToCelsius(s.askedSetpoint.value_or(kIdleSetpoint)); });
}

Failure CameraDevice::SetSetCcdTemperature(double celsius) {
    return Act("SetCCDTemperature", [this, celsius]() -> Failure {
        if (!connected) return NotConnected();
        if (const std::string problem = SetpointProblem(celsius); !problem.empty()) {
            return {kInvalidValue, "SetCCDTemperature: " + problem};
        }
        const std::int32_t tenths = CelsiusToTenths(celsius);
        cooler.SetpointAsked(tenths);
        // Kept until the cooler is switched on.
        return coolerOn ? SendSetpoint(tenths) : Failure{};
    });
}

DeviceStatus CameraDevice::Status() const {
    const std::shared_ptr<const Snapshot> s = LatestSnapshot();
    DeviceStatus status;
    status.connected = s->connected;
    status.identity = s->identity;
    status.state = s->state;
    if (s->coolingProblem.empty()) status.cooling = s->cooling;
    if (s->askedSetpoint) status.setpoint = TenthsToCelsius(*s->askedSetpoint);
    status.coolerOn = s->coolerOn;
    status.warmingUp = s->warmingUp;
    if (s->limit) status.limit = TenthsToCelsius(*s->limit);
    status.lastDuration = s->lastDuration;
    status.lastStart = s->lastStart;
    status.imageReady = s->image != nullptr;
    status.lastError = s->lastError;
    if (const int* percent = std::get_if<int>(&s->percent)) status.percent = *percent;
    status.frame = s->frame;
    status.image = s->image;
    return status;
}

}  // namespace tarnscsi::alpaca
