// One exposure from start to image, as every program runs it: the checks
// before it starts, the exposure time, the readout the camera is allowed,
// when the camera counts as busy, the download, and one explanation when it
// fails. Pure logic over a Camera with time passed in (seconds on any
// steady clock the caller keeps): a program that blocks polls it in a loop,
// one driven by a timer or by requests polls it from there.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include <tarnscsi/camera.h>
#include <tarnscsi/frame.h>

namespace tarnscsi {

// Time the camera may take after the exposure time to read its image out
// and answer ready; past it the exposure is given up. Programs may offer it
// as a setting: old cameras on slow adapters need more.
inline constexpr double kDefaultReadoutAllowanceSeconds = 60;
inline constexpr double kMinReadoutAllowanceSeconds = 1;
inline constexpr double kMaxReadoutAllowanceSeconds = 3600;
// How often a camera whose exposure time is over is asked whether it is
// ready: TEST UNIT READY is cheap, and every poll missed is time lost
// between frames.
inline constexpr double kReadyPollSeconds = 0.01;
// How often the camera is asked during the exposure time: the camera, not
// the program's clock, says when its image is ready, and a camera may end
// sooner than asked (the simulated camera on a fast clock does).
inline constexpr double kExposingPollSeconds = 0.1;

// "" when the camera's time field can carry an exposure of `seconds`, else
// why not (negative, too long, not a number).
std::string ExposureTimeProblem(double seconds);

// A steady clock's time point as the seconds the session counts in.
inline double SteadySeconds(std::chrono::steady_clock::time_point when) {
    return std::chrono::duration<double>(when.time_since_epoch()).count();
}

// ISO 8601 UTC with milliseconds, as FITS DATE-OBS and Alpaca want it:
// "2024-05-01T21:13:05.123".
std::string UtcTimestamp(std::chrono::system_clock::time_point when);

enum class ExposurePhase {
    kIdle,        // nothing started, or the last result was handed out
    kExposing,    // the exposure time is running
    kReadingOut,  // the time is over; the camera is still busy
    kDone,        // the image is in the buffer
    kFailed,      // no image: `message` says why
};

struct ExposureStatus {
    ExposurePhase phase = ExposurePhase::kIdle;
    double fraction = 0;     // share of the exposure time passed, 0 .. 1
    double secondsLeft = 0;  // of the exposure time
    double elapsed = 0;      // seconds in this phase
    double nextPoll = 0;     // seconds until another poll can tell more
    // kDone: the window as the camera reported it and the image's size.
    DownloadResult download;
    // kDone: what was odd but left the image usable (SCAN's status, a
    // window other than asked for); "" when nothing was.
    std::string warning;
    // kFailed: the command that decided, and one text naming what failed,
    // what the camera said and what to try next.
    CommandResult command;
    std::string message;
};

enum class StartOutcome {
    kStarted,
    kBusy,          // an exposure is under way: nothing was sent
    kInvalidTime,   // the exposure time cannot be taken: nothing was sent
    kInvalidFrame,  // the frame cannot be taken: nothing was sent
    kRefused,       // the camera refused the window
};

// What a program has read as the exposure starts, besides starting it.
enum class StartReading {
    kNothing,
    kCooling,  // the sensor's temperature, for the image's header
};

struct ExposureStart {
    StartOutcome outcome = StartOutcome::kInvalidTime;
    CommandResult command;  // kRefused: SET WINDOW's answer
    std::string message;    // "" when started; else why not, without the program's own prefix
    // StartReading::kCooling, once the time and frame were taken: the
    // reading taken just before the window was sent.
    std::optional<CoolingResult> cooling;
    explicit operator bool() const { return outcome == StartOutcome::kStarted; }
};

class ExposureSession {
public:
    explicit ExposureSession(Camera& camera, double readoutAllowanceSeconds = kDefaultReadoutAllowanceSeconds);

    // Kept within [kMin.., kMax..ReadoutAllowanceSeconds]; not a number
    // gives the default. An exposure under way keeps the one it started with.
    void SetReadoutAllowance(double seconds);
    double ReadoutAllowance() const { return allowance; }

    // How every program starts an exposure: refuses while one is under way,
    // checks the time (ExposureTimeProblem), then the frame (FrameProblem),
    // reads what `reading` asks for, then sends the frame's window
    // (WindowFor) and starts.
    ExposureStart Start(const Frame& frame, double seconds, double now, StartReading reading = StartReading::kNothing);

    // Where the exposure is. Once the time is over it asks the camera; when
    // the camera is ready it downloads into `buffer`, which must hold the
    // window's image. After a SCAN that did not complete, the image is read
    // only if the camera was seen busy since the start; otherwise the
    // exposure fails as not started and `buffer` is untouched. kDone and
    // kFailed are told once; the session is then idle. `progress` is asked
    // before each image read (Camera::Download); a download it stops ends
    // the exposure as kFailed with download.status kStopped: no image.
    ExposureStatus Poll(double now, std::span<std::uint8_t> buffer, const DownloadProgress& progress = {});

    // Stops waiting; the image, should the camera still make it, is never
    // read. The camera cannot be stopped: a new exposure sent before its
    // time is over may be refused, and the refusal then says so.
    void Abort(double now);

    bool Active() const { return active; }
    // The window as sent, the exposure time in seconds, and when it began
    // on the wall clock (for image headers).
    const ExposureSettings& Window() const { return window; }
    double Seconds() const { return exposureSeconds; }
    std::chrono::system_clock::time_point StartedAt() const { return startedAt; }
    const CommandResult& Scan() const { return scan; }

private:
    void Send(const ExposureSettings& settings, double now, ExposureStart& start);
    ExposureStatus Failed(ExposureStatus status, const CommandResult& command, std::string message);

    Camera& camera;
    double allowance;
    bool active = false;
    ExposureSettings window;
    double exposureSeconds = 0;
    double started = 0;
    double activeAllowance = 0;
    double abandonedUntil = 0;  // the camera may be busy with an aborted exposure till then
    bool aborted = false;
    bool seenBusy = false;  // the camera answered busy since the start
    std::chrono::system_clock::time_point startedAt;
    CommandResult scan;
};

}  // namespace tarnscsi
