// The C++ camera API: the same camera operations as the module's exports,
// with the connection in the caller's hands instead of one module-wide
// connection, typed results that name each command and what the camera
// said, and the guard the exports cannot have: Download knows the capacity
// of the buffer and refuses a reported window that would not fit.
//
// A camera answers the first command after a power-on or a bus reset with
// UNIT ATTENTION and does not carry it out. A Camera therefore sends an
// operation once more when the camera answered it so, where sending it again
// is safe: Ready, SetTemperature, ReadCooling and Identity, whose commands
// say all they mean, and Expose, which programs the window again before it
// starts the exposure (the reset may have undone the window). A second
// UNIT ATTENTION in a row is reported. Download is never repeated: a reset
// loses the exposure, and the camera sends its image as one stream without
// addresses, so a read sent again could only give other bytes. Any UNIT
// ATTENTION since the last Expose, retried or not, makes Download refuse
// (kExposureLost) without sending anything. The exports never retry.
//
// A Camera serves one thread at a time, as the camera serves one command.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include <tarnscsi/bus.h>
#include <tarnscsi/exposure_settings.h>
#include <tarnscsi/frame.h>
#include <tarnscsi/manager.h>
#include <tarnscsi/result.h>
#include <tarnscsi/trace.h>
#include <tarnscsi/units.h>

namespace tarnscsi {

class ScsiCamera;

// The camera model's name, as its INQUIRY product identification begins
// ("Nebrix"): what image headers record as the instrument.
const char* CameraModel();

struct CoolingReading {
    std::int32_t temperature = 0;  // tenths of a degree Celsius
    std::int32_t coolerDrive = 0;  // 0 (off) .. 255 (full)
};

// Who the connected camera says it is, and how it is reached.
struct CameraIdentity {
    std::string vendor;  // INQUIRY vendor, product and revision; empty when INQUIRY failed
    std::string product;
    std::string revision;
    int adapter = 0;
    int target = 0;
    std::string managerPath;  // the ASPI manager library in use; empty where it cannot be told
    CommandResult inquiry;    // INQUIRY's answer (after a retry, the retry's)
};

enum class DownloadStatus {
    kOk,
    kWindowUnreadable,  // GET WINDOW failed; the buffer is untouched
    kBufferTooSmall,    // the reported window does not fit; the buffer is untouched
    kReadFailed,        // a read failed; the bytes before it are in the buffer
    kExposureLost,      // the camera reported a reset since Expose; nothing was sent, the buffer is untouched
    kStopped,           // the caller's progress stopped it; the bytes before are in the buffer
};

// Asked before each image read of a download, with the bytes in so far and
// the image's size: a program shows the progress and may stop the download
// there (false): no further read is sent.
using DownloadProgress = std::function<bool(std::uint64_t received, std::uint64_t total)>;

struct DownloadResult {
    DownloadStatus status = DownloadStatus::kWindowUnreadable;
    ExposureSettings window;     // as the camera reported it
    std::uint64_t bytes = 0;     // image size the window implies
    std::uint64_t received = 0;  // bytes that arrived
    CommandResult command;       // the command that failed (GET WINDOW or READ(10)), or that reported the reset
    std::string message;         // empty when status is kOk; names the command and the sense
    explicit operator bool() const { return status == DownloadStatus::kOk; }
};

// How a device operation ended: whether it did what was asked, and the
// command that decided (after a retry, the retry's). An operation refused
// before anything was sent says why in `refusal`, and its `command` is
// empty ("no command").
struct OperationResult {
    bool ok = false;
    CommandResult command;
    std::string refusal;
    explicit operator bool() const { return ok; }
};

// Expose's outcome: `command` is SET WINDOW's answer (the operation fails
// only when the camera refused the window); `scan` is SCAN's. The camera may
// end SCAN with other than good status while its exposure starts, so SCAN
// does not decide: Ready and Download tell.
struct ExposeResult : OperationResult {
    CommandResult scan;
};

// Ready's outcome. A camera that is not ready is either busy with an
// exposure (it answers NOT READY, or a status such as BUSY: wait for it) or
// has failed in a way waiting does not mend (anything else).
struct ReadyResult : OperationResult {
    bool Busy() const;
};

// ReadCooling's outcome: `command` is MODE SENSE's answer, `reading` what
// the cooling page said (zero when the operation failed).
struct CoolingResult : OperationResult {
    CoolingReading reading;
};

class Camera {
public:
    // Connects to the camera through the manager in use (see manager.h).
    // On failure returns null and sets `error`.
    static std::unique_ptr<Camera> Open(ConnectError& error);
    // The same; `detail` says more where there is more to say, such as which
    // program holds the camera ("camera at adapter 0, target 2 is in use by
    // indi_tarnscsi_ccd, PID 4242"), else it is empty.
    static std::unique_ptr<Camera> Open(ConnectError& error, std::string& detail);
    ~Camera();
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    int Adapter() const;
    int Target() const;

    // Programs the window (width and height rounded down to even when
    // binned) and starts the exposure with SCAN. Fails when SET WINDOW was
    // refused; SCAN's own outcome is carried beside.
    ExposeResult Expose(const ExposureSettings& settings);

    // TEST UNIT READY: succeeds when the camera can take the next command.
    ReadyResult Ready();
    // Reads the window back, then the image into `buffer`, asking
    // `progress` (when given) before each read.
    DownloadResult Download(std::span<std::uint8_t> buffer, const DownloadProgress& progress = {});
    // MODE SELECT of the cooling page with the setpoint in tenths of a degree.
    // A setpoint the page's 16-bit field cannot hold is refused unsent.
    OperationResult SetTemperature(std::int32_t setpoint);
    // MODE SENSE of the cooling page.
    CoolingResult ReadCooling();

    // Asks the camera for its identification (a standard INQUIRY).
    CameraIdentity Identity();

private:
    explicit Camera(std::unique_ptr<ScsiCamera> connection);
    // Runs `operation`, and once more when its last command was answered
    // with UNIT ATTENTION; returns what the last run returned.
    template <typename Operation>
    bool RetriedOnUnitAttention(Operation operation);
    // Keeps the last result when it is a UNIT ATTENTION; true if so.
    bool NoteUnitAttention();

    std::unique_ptr<ScsiCamera> camera;
    std::optional<CommandResult> resetReport;  // the first UNIT ATTENTION since the last Expose
};

}  // namespace tarnscsi
