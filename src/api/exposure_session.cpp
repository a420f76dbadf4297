#include <tarnscsi/exposure_session.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <tarnscsi/units.h>

#include "api/value_as_given.h"

namespace tarnscsi {

namespace {

// Room for any year the calendar can give, the fraction and the terminator.
constexpr std::size_t kTimestampSize = 64;

std::string WithAdvice(std::string text, const CommandResult& command) {
    if (const std::string advice = command.Advice(); !advice.empty()) text += "; " + advice;
    return text;
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

}  // namespace

std::string ExposureTimeProblem(double seconds) {
    // Written so that NaN fails too.
    if (seconds >= kMinExposureSeconds && seconds <= kMaxExposureSeconds) return {};
    return "the camera exposes from " + Fixed(kMinExposureSeconds, kExposureDecimals) + " to " +
           Fixed(kMaxExposureSeconds, kExposureDecimals) + " s, not " + ValueAsGiven(seconds) + " s";
}

std::string UtcTimestamp(std::chrono::system_clock::time_point when) {
    // The calendar of <chrono>, not the C runtime's gmtime: Windows' gives
    // nothing for a time before 1970, and this gives the same text on every
    // system.
    using namespace std::chrono;
    const auto millis = floor<milliseconds>(when);
    const auto day = floor<days>(millis);
    const year_month_day date{day};
    const hh_mm_ss clock{millis - day};
    char text[kTimestampSize];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03d", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
    return text;
}

ExposureSession::ExposureSession(Camera& connected, double readoutAllowanceSeconds) : camera(connected), allowance(0) {
    SetReadoutAllowance(readoutAllowanceSeconds);
}

void ExposureSession::SetReadoutAllowance(double seconds) {
    if (!std::isfinite(seconds)) seconds = kDefaultReadoutAllowanceSeconds;
    allowance = std::clamp(seconds, kMinReadoutAllowanceSeconds, kMaxReadoutAllowanceSeconds);
}

ExposureStart ExposureSession::Start(const Frame& frame, double seconds, double now, StartReading reading) {
    ExposureStart start;
    if (active) {
        start.outcome = StartOutcome::kBusy;
        start.message = "an exposure is under way: wait for its image or abort it";
        return start;
    }
    if (start.message = ExposureTimeProblem(seconds); !start.message.empty()) {
        start.outcome = StartOutcome::kInvalidTime;
        return start;
    }
    if (start.message = FrameProblem(frame); !start.message.empty()) {
        start.outcome = StartOutcome::kInvalidFrame;
        return start;
    }
    if (reading == StartReading::kCooling) start.cooling = camera.ReadCooling();
    Send(WindowFor(frame, SecondsToMilliseconds(seconds)), now, start);
    return start;
}

void ExposureSession::Send(const ExposureSettings& settings, double now, ExposureStart& start) {
    startedAt = std::chrono::system_clock::now();
    const ExposeResult exposed = camera.Expose(settings);
    if (!exposed) {
        start.outcome = StartOutcome::kRefused;
        start.command = exposed.command;
        start.message = WithAdvice(
            "the camera refused the exposure (" + DescribeWindow(settings) + "): " + exposed.command.Describe(),
            exposed.command);
        if (aborted && now < abandonedUntil)
            start.message += " (it may still be busy with the exposure abandoned before)";
        return;
    }
    active = true;
    aborted = false;
    window = settings;
    exposureSeconds = MillisecondsToSeconds(settings.exposureTime);
    started = now;
    activeAllowance = allowance;
    scan = exposed.scan;
    seenBusy = false;
    start.outcome = StartOutcome::kStarted;
}

void ExposureSession::Abort(double now) {
    if (!active) return;
    active = false;
    aborted = true;
    abandonedUntil = std::max(now, started + exposureSeconds + activeAllowance);
}

ExposureStatus ExposureSession::Failed(ExposureStatus status, const CommandResult& command, std::string message) {
    active = false;
    status.phase = ExposurePhase::kFailed;
    status.command = command;
    status.message = std::move(message);
    return status;
}

ExposureStatus ExposureSession::Poll(double now, std::span<std::uint8_t> buffer, const DownloadProgress& progress) {
    ExposureStatus status;
    if (!active) return status;
    const double end = started + exposureSeconds;
    status.fraction = exposureSeconds > 0 ? std::clamp((now - started) / exposureSeconds, 0.0, 1.0) : 1.0;
    status.secondsLeft = std::max(0.0, end - now);
    const bool exposing = now < end;
    status.elapsed = exposing ? std::max(0.0, now - started) : now - end;
    // SCAN's status alone does not decide: the camera may end it with other
    // than good status while its exposure starts. Whether the camera then
    // gets busy and an image follows does.
    const bool scanFailed = !scan.Ok();
    const std::string notStarted = "the exposure did not start: " + scan.Describe();

    const ReadyResult ready = camera.Ready();
    if (ready.Busy()) seenBusy = true;
    if (!ready) {
        if (ready.Busy() && exposing) {
            status.phase = ExposurePhase::kExposing;
            status.nextPoll = std::min(end - now, kExposingPollSeconds);
            return status;
        }
        if (ready.Busy() && now <= end + activeAllowance) {
            status.phase = ExposurePhase::kReadingOut;
            status.nextPoll = kReadyPollSeconds;
            return status;
        }
        if (scanFailed && !seenBusy) return Failed(status, scan, WithAdvice(notStarted, scan));
        if (ready.Busy()) {
            return Failed(status, ready.command,
                          "the camera did not finish the exposure within " + Fixed(now - started, 0) +
                              " s of its start (" + Fixed(exposureSeconds, kExposureDecimals) + " s exposure and " +
                              Fixed(activeAllowance, 0) + " s to read out); it still answers " +
                              ready.command.Describe() +
                              "; start a new exposure, and if this repeats, check the camera and its cable");
        }
        return Failed(status, ready.command, "the camera failed during the exposure: " + ready.command.Explained());
    }

    // After a failed SCAN only a camera seen busy since has exposed: one
    // ready at once still holds whatever image it had before (or none), and
    // reading that would hand out an earlier frame as this one.
    if (scanFailed && !seenBusy) {
        return Failed(
            status, scan,
            WithAdvice(notStarted + "; the camera was ready without having been busy, so any image it holds is "
                                    "from an earlier exposure and none was read",
                       scan));
    }

    status.download = camera.Download(buffer, progress);
    const DownloadResult& download = status.download;
    if (download.status == DownloadStatus::kStopped) {
        return Failed(status, CommandResult{}, download.message + ": the frame is dropped");
    }
    if (!download) {
        std::string message = "download failed: " + download.message;
        if (scanFailed) message += " (SCAN had not completed: " + scan.Describe() + ")";
        // A window too large for the buffer is no command's failure: no advice.
        if (download.status != DownloadStatus::kBufferTooSmall) message = WithAdvice(message, download.command);
        return Failed(status, download.command, std::move(message));
    }
    if (const std::string problem = ReportedWindowProblem(download.window); !problem.empty()) {
        return Failed(status, CommandResult{}, "the camera reported an impossible window: " + problem);
    }
    active = false;
    status.phase = ExposurePhase::kDone;
    if (scanFailed) {
        status.warning = "SCAN did not complete (" + scan.Describe() +
                         "), but the camera was busy after it and then delivered its image; the frame is kept";
    }
    if (download.window != window) {
        if (!status.warning.empty()) status.warning += "; ";
        status.warning += "the camera reports " + DescribeWindow(download.window) + ", not the requested " +
                          DescribeWindow(window) + "; the image and its header follow the camera";
    }
    return status;
}

}  // namespace tarnscsi
