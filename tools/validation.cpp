// Checks of the command line that need more than one option or the
// library's rules: the subframe as a whole (by the library's frame rules, so
// the tool accepts exactly the frames the camera takes), names that need a
// counter, and unit conversions. Each option's own range is checked while
// parsing (option_checks.h).
#include <cmath>
#include <set>

#include <tarnscsi/frame.h>
#include <tarnscsi/units.h>

#include "errors.h"
#include "imaging/fits_cards.h"
#include "options.h"
#include "pending_file.h"

namespace tarnscsi::tool {

namespace {

// Standard output as a FITS destination.

UsageError Bad(const std::string& option, const std::string& value, const std::string& why) {
    return UsageError(option + " " + value + ": " + why);
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

// Each --key card was checked alone while parsing; together, a keyword may
// appear once (commentary may repeat).
void CheckExtraCardsTogether(const std::vector<std::string>& cards) {
    std::set<std::string> seen;
    for (const std::string& card : cards) {
        const std::string key = card.substr(0, card.find('='));
        if (!imaging::FitsKeywordMayRepeat(key) && !seen.insert(key).second) {
            throw Bad("--key", card, key + " is given more than once; a FITS header holds each keyword once");
        }
    }
}

ImageType ParseImageType(const std::string& name) { return imaging::ImageTypeNamed(name).value_or(ImageType::kLight); }

std::chrono::milliseconds WaitSeconds(double seconds) {
    return std::chrono::milliseconds(std::llround(seconds * kMillisecondsPerSecond));
}

}  // namespace

bool FitsToStandardOutput(const ExposeOptions& options) { return options.output == kStandardOutputName; }

ExposeRequest CheckExposeOptions(const ExposeOptions& options) {
    ExposeRequest request;
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
    request.toStandardOutput = FitsToStandardOutput(options);
    if (request.toStandardOutput) {
        if (options.count > 1) {
            throw Bad("--output", options.output,
                      "standard output takes one frame, not --count " + std::to_string(options.count));
        }
        if (options.preview) throw Bad("--preview", *options.preview, "is not written when the FITS goes to stdout");
    } else {
        if (const std::string problem = UnsupportedPathName(options.output); !problem.empty()) {
            throw Bad("--output", options.output, problem);
        }
        request.output = NamePattern::Parse(options.output);
    }
    if (options.count > 1 && !request.output.HasCounter()) {
        throw Bad("--output", options.output,
                  "--count " + std::to_string(options.count) + " needs a counter in the name, such as frame_%04d.fits");
    }
    if (options.preview) {
        if (const std::string problem = UnsupportedPathName(*options.preview); !problem.empty()) {
            throw Bad("--preview", *options.preview, problem);
        }
        request.preview = NamePattern::Parse(*options.preview);
    }
    if (options.setTemp) request.setpoint = CelsiusToTenths(*options.setTemp);
    if (options.coolWait) request.coolWait = WaitSeconds(*options.coolWait);
    request.type = ParseImageType(options.type);
    request.overwrite = options.overwrite;
    request.quiet = options.quiet || options.json;
    request.json = options.json;
    CheckExtraCardsTogether(options.metadata.extraCards);
    request.metadata = options.metadata;
    return request;
}

CoolRequest CheckCoolOptions(const CoolOptions& options) {
    CoolRequest request;
    if (options.off == options.celsius.has_value()) {
        throw UsageError(options.off ? "cool --off takes no setpoint" : "cool needs a setpoint in C, or --off");
    }
    request.off = options.off;
    request.ramp = options.ramp;
    if (options.celsius) request.setpoint = CelsiusToTenths(*options.celsius);
    request.wait = options.wait;
    request.tolerance = options.tolerance;
    request.timeout = WaitSeconds(options.timeout);
    request.quiet = options.quiet || options.json;
    request.json = options.json;
    return request;
}

}  // namespace tarnscsi::tool
