#include "api/camera.h"

#include <new>
#include <string>

#include "camera/scsi_camera.h"
#include "camera/window_list.h"

namespace tarnscsi {

std::unique_ptr<Camera> Camera::Open(std::string& error) {
    std::unique_ptr<ScsiCamera> connection(new (std::nothrow) ScsiCamera);
    if (!connection) {
        error = "Out of memory";
        return nullptr;
    }
    if (!connection->IsValid()) {
        error = connection->ErrorText();
        return nullptr;
    }
    return std::unique_ptr<Camera>(new Camera(std::move(connection)));
}

Camera::Camera(std::unique_ptr<ScsiCamera> connection) : camera(std::move(connection)) {}
Camera::~Camera() = default;

int Camera::Adapter() const { return static_cast<int>(camera->AdapterId()); }
int Camera::Target() const { return static_cast<int>(camera->TargetId()); }

bool Camera::Expose(const ExposureSettings& settings) { return camera->StartExposure(settings); }

bool Camera::Ready() { return camera->TestUnitReady(); }

DownloadResult Camera::Download(std::span<std::uint8_t> buffer) {
    DownloadResult result;
    if (!camera->GetWindow(result.window)) {
        result.message = "the camera did not report its window";
        return result;
    }
    result.bytes = ImageBytes(result.window);
    // Sized without the camera's 32-bit wrap: a window whose true size
    // wraps to something small would otherwise pass and read garbage.
    const std::uint64_t needed = camera::ExactImageByteCount(result.window);
    if (needed > buffer.size() || needed != result.bytes) {
        result.status = DownloadStatus::kBufferTooSmall;
        result.message = "the camera reports a " + std::to_string(result.window.width) + " x " +
                         std::to_string(result.window.height) + (result.window.binned ? " binned" : "") +
                         " window of " + std::to_string(needed) + " bytes, larger than the " +
                         std::to_string(buffer.size()) + "-byte buffer";
        return result;
    }
    if (!camera->ReadImage(result.window, buffer.data())) {
        result.status = DownloadStatus::kReadFailed;
        result.message = "an image read failed";
        return result;
    }
    result.status = DownloadStatus::kOk;
    return result;
}

bool Camera::SetTemperature(std::int32_t setpoint) { return camera->WriteSetpoint(setpoint); }

std::optional<CoolingReading> Camera::ReadCooling() {
    CoolingReading reading{};
    if (!camera->ReadCoolingPage(reading.temperature, reading.coolerDrive)) return std::nullopt;
    return reading;
}

std::uint32_t Camera::ImageBytes(const ExposureSettings& settings) { return camera::ImageByteCount(settings); }

}  // namespace tarnscsi
