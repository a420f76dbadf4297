// The C++ camera API for our own tools (the command-line tool, the INDI
// driver). It drives the same camera operations as the exports, with
// ownership in the caller's hands instead of one module-wide connection, and
// with the one guard the exports cannot have: Download knows the capacity of
// the buffer and refuses a reported window that would not fit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "camera/exposure_settings.h"

class ScsiCamera;

namespace tarnscsi {

// Sensor geometry of our cameras.
inline constexpr int kSensorWidth = 768;
inline constexpr int kSensorHeight = 512;
inline constexpr double kPixelSizeMicrons = 9.0;

struct CoolingReading {
    std::int32_t temperature;  // camera units: tenths of a degree Celsius
    std::int32_t coolerDrive;  // 0 (off) .. 255 (full)
};

enum class DownloadStatus {
    kOk,
    kWindowUnreadable,  // GET WINDOW failed; the buffer is untouched
    kBufferTooSmall,    // the reported window does not fit; the buffer is untouched
    kReadFailed,        // a read failed; the bytes before it are in the buffer
};

struct DownloadResult {
    DownloadStatus status = DownloadStatus::kWindowUnreadable;
    ExposureSettings window;   // as the camera reported it
    std::uint32_t bytes = 0;   // image size the window implies
    std::string message;       // empty when status is kOk
    explicit operator bool() const { return status == DownloadStatus::kOk; }
};

class Camera {
public:
    // Connects to the camera. On failure returns null and stores the
    // module's message (the same texts Connect gives) in `error`.
    static std::unique_ptr<Camera> Open(std::string& error);
    ~Camera();
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    int Adapter() const;
    int Target() const;

    // Programs the window (width and height rounded down to even when
    // binned) and starts the exposure; false when the window was refused.
    bool Expose(const ExposureSettings& settings);
    bool Ready();
    // Reads the window back, then the image into `buffer`.
    DownloadResult Download(std::span<std::uint8_t> buffer);
    bool SetTemperature(std::int32_t setpoint);
    std::optional<CoolingReading> ReadCooling();

    // Bytes an image of this window occupies.
    static std::uint32_t ImageBytes(const ExposureSettings& settings);

private:
    explicit Camera(std::unique_ptr<ScsiCamera> connection);
    std::unique_ptr<ScsiCamera> camera;
};

}  // namespace tarnscsi
