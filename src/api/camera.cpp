#include <tarnscsi/camera.h>

#include <new>
#include <string>

#include "api/inquiry_text.h"
#include "api/not_found_detail.h"
#include "camera/scsi_camera.h"
#include "camera/window_list.h"
#include "scsi_sense.h"

namespace tarnscsi {

namespace {

// The camera was reset, or changed state, since the command before, and did
// not carry this one out.
bool IsUnitAttention(const CommandResult& result) {
    return result.Outcome() == CommandOutcome::kCheckCondition && result.sense.valid &&
           static_cast<scsi::SenseKey>(result.sense.key) == scsi::SenseKey::kUnitAttention;
}

}  // namespace

const char* CameraModel() { return tarnscsi::camera::kProductName; }

std::unique_ptr<Camera> Camera::Open(ConnectError& error) {
    std::string detail;
    return Open(error, detail);
}

std::unique_ptr<Camera> Camera::Open(ConnectError& error, std::string& detail) {
    detail.clear();
    std::unique_ptr<ScsiCamera> connection(new (std::nothrow) ScsiCamera);
    if (!connection) {
        error = ConnectError::kOutOfMemory;
        return nullptr;
    }
    if (!connection->IsValid()) {
        error = connection->Error();
        detail = connection->InUseDetail();
        if (error == ConnectError::kCameraNotFound) {
            const auto report = LoadedManagerReport();
            detail = NotFoundDetail(report.value_or(std::vector<std::string>{}));
            if (const auto silent = connection->Unanswered()) {
                const std::string unanswered =
                    UnansweredDetail(silent->adapter, silent->target, LoadedManagerNodes(), report);
                detail = detail.empty() ? unanswered : unanswered + "; " + detail;
            }
        }
        return nullptr;
    }
    error = ConnectError::kNone;
    return std::unique_ptr<Camera>(new Camera(std::move(connection)));
}

Camera::Camera(std::unique_ptr<ScsiCamera> connection) : camera(std::move(connection)) {}
Camera::~Camera() = default;

// Which operations may be sent again is the rule in camera.h: the callers
// below are the ones it names.
template <typename Operation>
bool Camera::RetriedOnUnitAttention(Operation operation) {
    const bool done = operation();
    if (!NoteUnitAttention()) return done;
    const bool retried = operation();
    NoteUnitAttention();
    return retried;
}

bool Camera::NoteUnitAttention() {
    if (!IsUnitAttention(camera->LastResult())) return false;
    if (!resetReport) resetReport = camera->LastResult();
    return true;
}

int Camera::Adapter() const { return static_cast<int>(camera->AdapterId()); }
int Camera::Target() const { return static_cast<int>(camera->TargetId()); }

ExposeResult Camera::Expose(const ExposureSettings& settings) {
    const ExposureSettings window = tarnscsi::camera::EvenForBinning(settings);
    ExposeResult result;
    // SCAN exposes the window SET WINDOW programmed; after a reset between
    // the two that window may be gone, so both are sent again.
    result.ok = RetriedOnUnitAttention([&] {
        result.scan = CommandResult{};
        if (!camera->SetWindow(window)) {
            result.command = camera->LastResult();
            return false;
        }
        result.command = camera->LastResult();
        camera->StartScan();
        result.scan = camera->LastResult();
        return true;
    });
    // The window was programmed after every reset reported so far.
    if (result.ok && !IsUnitAttention(result.scan)) resetReport.reset();
    return result;
}

bool ReadyResult::Busy() const {
    if (ok) return false;
    const CommandOutcome outcome = command.Outcome();
    return outcome == CommandOutcome::kTargetStatus ||
           (outcome == CommandOutcome::kCheckCondition && command.sense.valid &&
            static_cast<scsi::SenseKey>(command.sense.key) == scsi::SenseKey::kNotReady);
}

ReadyResult Camera::Ready() {
    ReadyResult result;
    result.ok = RetriedOnUnitAttention([this] { return camera->TestUnitReady(); });
    result.command = camera->LastResult();
    return result;
}

DownloadResult Camera::Download(std::span<std::uint8_t> buffer, const DownloadProgress& progress) {
    DownloadResult result;
    // A reset since the exposure began took its image; what the camera
    // would send now belongs to no exposure of ours.
    if (resetReport) {
        result.status = DownloadStatus::kExposureLost;
        result.command = *resetReport;
        result.message = "the camera reported a reset after the exposure began, so its image is lost (" +
                         resetReport->Describe() + ")";
        return result;
    }
    if (!camera->GetWindow(result.window)) {
        NoteUnitAttention();
        result.command = camera->LastResult();
        result.message = "the camera did not report its window: " + result.command.Describe();
        return result;
    }
    // Sized without the camera's 32-bit wrap: a window whose true size
    // wraps to something small would otherwise pass and read garbage.
    result.bytes = ImageBytes(result.window);
    if (!tarnscsi::camera::WindowFits(result.window, buffer.size())) {
        result.status = DownloadStatus::kBufferTooSmall;
        result.message = "the camera reports a " + std::to_string(result.window.width) + " x " +
                         std::to_string(result.window.height) + (result.window.binned ? " binned" : "") +
                         " window of " + std::to_string(result.bytes) + " bytes, larger than the " +
                         std::to_string(buffer.size()) + "-byte buffer";
        return result;
    }
    bool stopped = false;
    ScsiCamera::ReadGate beforeRead;
    if (progress) {
        beforeRead = [&progress, &stopped, total = result.bytes](std::uint32_t received) {
            stopped = !progress(received, total);
            return !stopped;
        };
    }
    if (!camera->ReadImage(result.window, buffer.data(), beforeRead)) {
        result.received = camera->BytesRead();
        if (stopped) {
            result.status = DownloadStatus::kStopped;
            result.message = "the download was stopped after " + std::to_string(result.received) + " of " +
                             std::to_string(result.bytes) + " bytes";
            return result;
        }
        NoteUnitAttention();
        result.status = DownloadStatus::kReadFailed;
        result.command = camera->LastResult();
        result.message = "an image read failed after " + std::to_string(result.received) + " of " +
                         std::to_string(result.bytes) + " bytes: " + result.command.Describe();
        return result;
    }
    result.received = result.bytes;
    result.status = DownloadStatus::kOk;
    return result;
}

OperationResult Camera::SetTemperature(std::int32_t setpoint) {
    OperationResult result;
    using tarnscsi::camera::cooling::kSetpointMax;
    using tarnscsi::camera::cooling::kSetpointMin;
    if (setpoint < kSetpointMin || setpoint > kSetpointMax) {
        // Told here, not by the last command: nothing reaches the camera.
        result.refusal = "the setpoint of " + std::to_string(setpoint) +
                         " tenths of a degree is outside what the camera's cooling page can hold (" +
                         std::to_string(kSetpointMin) + " to " + std::to_string(kSetpointMax) + "); nothing was sent";
        return result;
    }
    result.ok = RetriedOnUnitAttention([&] { return camera->WriteSetpoint(setpoint); });
    result.command = camera->LastResult();
    return result;
}

CoolingResult Camera::ReadCooling() {
    CoolingResult result;
    CoolingReading reading;
    result.ok =
        RetriedOnUnitAttention([&] { return camera->ReadCoolingPage(reading.temperature, reading.coolerDrive); });
    result.command = camera->LastResult();
    if (result.ok) result.reading = reading;
    return result;
}

CameraIdentity Camera::Identity() {
    CameraIdentity identity;
    identity.adapter = Adapter();
    identity.target = Target();
    identity.managerPath = LoadedManagerPath();
    std::uint8_t reply[tarnscsi::camera::kInquiryStandardLength] = {};
    const bool answered = RetriedOnUnitAttention([&] {
        tarnscsi::aspi::SRB_ExecSCSICmd block = tarnscsi::camera::BuildRequest(
            tarnscsi::camera::kInquireStandard, reply, tarnscsi::camera::kInquireStandard.dataLength,
            static_cast<std::uint8_t>(camera->AdapterId()), static_cast<std::uint8_t>(camera->TargetId()));
        return camera->Execute(block);
    });
    identity.inquiry = camera->LastResult();
    if (answered) {
        InquiryText text = ReadInquiryText(reply);
        identity.vendor = std::move(text.vendor);
        identity.product = std::move(text.product);
        identity.revision = std::move(text.revision);
    }
    return identity;
}

}  // namespace tarnscsi
