// Checks of the command line that CLI11's per-option checks cannot express:
// non-finite numbers, unit conversions, and the subframe as a whole.
#include <cmath>
#include <cstdio>

#include "api/camera.h"
#include "errors.h"
#include "options.h"
#include "units.h"

namespace tarnscsi::tool {

namespace {

constexpr double kMaxToleranceCelsius = 10.0;
constexpr double kMaxWaitSeconds = 24 * 3600.0;

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

// One axis of the subframe: origin and size in unbinned pixels.
void CheckAxis(const char* originName, int origin, const char* sizeName, int size, int sensorSize, int minSize) {
    if (origin < 0 || origin > sensorSize - minSize) {
        throw Bad(originName, std::to_string(origin),
                  "must be from 0 to " + std::to_string(sensorSize - minSize) + " (sensor is " +
                      std::to_string(sensorSize) + " pixels)");
    }
    if (size < minSize || origin + size > sensorSize) {
        throw Bad(sizeName, std::to_string(size),
                  "must be from " + std::to_string(minSize) + " to " + std::to_string(sensorSize - origin) +
                      " with " + originName + " " + std::to_string(origin) + " (sensor is " +
                      std::to_string(sensorSize) + " pixels)");
    }
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
    if (!std::isfinite(options.seconds) || options.seconds < 0 || options.seconds > kMaxExposureSeconds) {
        throw Bad("exposure time", Number(options.seconds),
                  "must be a number of seconds from 0 to " + Number(kMaxExposureSeconds));
    }
    if (options.binning != 1 && options.binning != kBinnedFactor) {
        throw Bad("--bin", std::to_string(options.binning), "must be 1 or 2");
    }
    const int minSize = options.binning;  // a binned pixel needs 2 x 2 sensor pixels
    const int width = options.width.value_or(kSensorWidth - options.x);
    const int height = options.height.value_or(kSensorHeight - options.y);
    CheckAxis("--x", options.x, "--width", width, kSensorWidth, minSize);
    CheckAxis("--y", options.y, "--height", height, kSensorHeight, minSize);
    if (options.count < 1) throw Bad("--count", std::to_string(options.count), "must be at least 1");

    request.window.exposureTime = SecondsToMilliseconds(options.seconds);
    request.window.originX = options.x;
    request.window.originY = options.y;
    request.window.binned = options.binning == kBinnedFactor ? 1 : 0;
    // The camera bins whole 2 x 2 cells; say so in the request as it will.
    request.window.width = request.window.binned ? width & ~1 : width;
    request.window.height = request.window.binned ? height & ~1 : height;

    request.count = options.count;
    request.output = NamePattern::Parse(options.output);
    if (options.count > 1 && !request.output.HasCounter()) {
        throw Bad("--output", options.output,
                  "--count " + std::to_string(options.count) +
                      " needs a counter in the name, such as frame_%04d.fits");
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
