// Checks of the command line that CLI11's per-option checks cannot express:
// non-finite numbers, unit conversions, and the subframe as a whole (by the
// library's frame rules, so the tool accepts exactly the frames the camera
// takes).
#include <cmath>
#include <cstdio>

#include <tarnscsi/frame.h>
#include <tarnscsi/units.h>

#include "errors.h"
#include "options.h"

namespace tarnscsi::tool {

namespace {

constexpr double kMaxToleranceCelsius = 10.0;
constexpr double kMaxWaitSeconds = 24 * 3600.0;
static_assert(kMinSetpointCelsius >= kMinSetpointFieldCelsius && kMaxSetpointCelsius <= kMaxSetpointFieldCelsius,
              "the setpoints the tool accepts must fit the camera's field");

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

UsageError Bad(const std::string& option, const std::string& value, const std::string& why) {
    return UsageError(option + " " + value + ": " + why);
}

// A finite number within [low, high].
void CheckRange(const std::string& option, double value, double low, double high) {
    if (!std::isfinite(value) || value < low || value > high) {
        throw Bad(option, Number(value), "must be a number from " + Number(low) + " to " + Number(high));
    }
}

// The default size along one axis: the rest of the sensor from `origin`
// (nothing when the origin is off the sensor, which the frame check refuses).
int RestOfSensor(int origin, int sensorSize) { return origin >= 0 && origin < sensorSize ? sensorSize - origin : 0; }

// Names the option at fault when the library refuses the frame: the axis
// that is off (each checked alone, the other axis spanning the sensor), then
// its origin if even a one-pixel frame there is refused, else its size.
void CheckFrame(const Frame& frame) {
    const std::string problem = FrameProblem(frame);
    if (problem.empty()) return;
    const int binning = frame.binning;
    const Frame xAlone{frame.x, 0, frame.width, kSensorHeight, binning};
    if (!FrameProblem(xAlone).empty()) {
        const Frame xOrigin{frame.x, 0, binning, kSensorHeight, binning};
        if (!FrameProblem(xOrigin).empty()) throw Bad("--x", std::to_string(frame.x), problem);
        throw Bad("--width", std::to_string(frame.width), problem);
    }
    const Frame yAlone{0, frame.y, kSensorWidth, frame.height, binning};
    if (!FrameProblem(yAlone).empty()) {
        const Frame yOrigin{0, frame.y, kSensorWidth, binning, binning};
        if (!FrameProblem(yOrigin).empty()) throw Bad("--y", std::to_string(frame.y), problem);
        throw Bad("--height", std::to_string(frame.height), problem);
    }
    throw UsageError("subframe: " + problem);
}

ImageType ParseImageType(const std::string& name) {
    if (name == "light") return ImageType::kLight;
    if (name == "dark") return ImageType::kDark;
    if (name == "bias") return ImageType::kBias;
    if (name == "flat") return ImageType::kFlat;
    throw Bad("--type", name, "must be light, dark, bias or flat");
}

// A time limit for a wait, in seconds: positive and at most a day.
std::chrono::milliseconds CheckWaitSeconds(const char* option, double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0 || seconds > kMaxWaitSeconds) {
        throw Bad(option, Number(seconds), "must be more than 0 and at most " + Number(kMaxWaitSeconds) + " seconds");
    }
    return std::chrono::milliseconds(std::llround(seconds * kMillisecondsPerSecond));
}

}  // namespace

const char* FitsImageType(ImageType type) {
    switch (type) {
        case ImageType::kDark: return "Dark Frame";
        case ImageType::kBias: return "Bias Frame";
        case ImageType::kFlat: return "Flat Field";
        case ImageType::kLight: break;
    }
    return "Light Frame";
}

ExposeRequest CheckExposeOptions(const ExposeOptions& options) {
    ExposeRequest request;
    if (!std::isfinite(options.seconds) || options.seconds < kMinExposureSeconds ||
        options.seconds > kMaxExposureSeconds) {
        throw Bad(
            "exposure time", Number(options.seconds),
            "must be a number of seconds from " + Number(kMinExposureSeconds) + " to " + Number(kMaxExposureSeconds));
    }
    if (const std::string problem = BinningProblem(options.binning, options.binning); !problem.empty()) {
        throw Bad("--bin", std::to_string(options.binning), problem);
    }
    const Frame frame{options.x, options.y, options.width.value_or(RestOfSensor(options.x, kSensorWidth)),
                      options.height.value_or(RestOfSensor(options.y, kSensorHeight)), options.binning};
    CheckFrame(frame);
    if (options.count < 1) throw Bad("--count", std::to_string(options.count), "must be at least 1");

    // The camera bins whole 2 x 2 cells; the request says so as it will.
    request.window = WindowFor(frame, SecondsToMilliseconds(options.seconds));

    request.count = options.count;
    request.output = NamePattern::Parse(options.output);
    if (options.count > 1 && !request.output.HasCounter()) {
        throw Bad("--output", options.output,
                  "--count " + std::to_string(options.count) + " needs a counter in the name, such as frame_%04d.fits");
    }
    if (options.preview) {
        request.preview = NamePattern::Parse(*options.preview);
        if (request.preview->Expand(1) == request.output.Expand(1)) {
            throw Bad("--preview", *options.preview, "is the same file as the FITS output");
        }
    }
    if (options.setTemp) {
        CheckRange("--set-temp", *options.setTemp, kMinSetpointCelsius, kMaxSetpointCelsius);
        request.setpoint = CelsiusToTenths(*options.setTemp);
    }
    if (options.coolWait) {
        request.coolWait = CheckWaitSeconds("--cool-wait", *options.coolWait);
    }
    request.type = ParseImageType(options.type);
    request.overwrite = options.overwrite;
    request.quiet = options.quiet;
    return request;
}

CoolRequest CheckCoolOptions(const CoolOptions& options) {
    CheckRange("setpoint", options.celsius, kMinSetpointCelsius, kMaxSetpointCelsius);
    CoolRequest request;
    request.setpoint = CelsiusToTenths(options.celsius);
    request.wait = options.wait;
    if (!std::isfinite(options.tolerance) || options.tolerance <= 0 || options.tolerance > kMaxToleranceCelsius) {
        throw Bad("--tolerance", Number(options.tolerance),
                  "must be more than 0 and at most " + Number(kMaxToleranceCelsius) + " C");
    }
    request.tolerance = options.tolerance;
    request.timeout = CheckWaitSeconds("--timeout", options.timeout);
    request.quiet = options.quiet;
    return request;
}

}  // namespace tarnscsi::tool
