// What each subcommand was asked to do: first as typed (seconds, degrees,
// names), then checked and converted to the camera's units. The checks run
// before anything touches the camera or a file.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include <tarnscsi/exposure_settings.h>

#include "name_pattern.h"

namespace tarnscsi::tool {

enum class ImageType { kLight, kDark, kBias, kFlat };
// The IMAGETYP value imaging software recognises, e.g. "Dark Frame".
const char* FitsImageType(ImageType type);

struct ExposeOptions {
    double seconds = 0;
    int binning = 1;
    int x = 0;
    int y = 0;
    std::optional<int> width;   // default: to the sensor's right edge
    std::optional<int> height;  // default: to the sensor's bottom edge
    int count = 1;
    std::string output;
    std::optional<std::string> preview;
    std::optional<double> setTemp;   // C
    std::optional<double> coolWait;  // s: wait for the setpoint before the first frame
    std::string type = "light";      // light, dark, bias or flat
    bool overwrite = false;
    bool quiet = false;
};

struct ExposeRequest {
    tarnscsi::ExposureSettings window;  // camera units; width and height even when binned
    int count = 1;
    NamePattern output;
    std::optional<NamePattern> preview;
    std::optional<std::int32_t> setpoint;               // tenths of a degree
    std::optional<std::chrono::milliseconds> coolWait;  // with setpoint: time limit to reach it
    ImageType type = ImageType::kLight;
    bool overwrite = false;
    bool quiet = false;
};

// Throws UsageError naming the offending option and value.
ExposeRequest CheckExposeOptions(const ExposeOptions& options);

struct CoolOptions {
    double celsius = 0;
    bool wait = false;
    double tolerance = 0.5;  // C
    double timeout = 300;    // s
    bool quiet = false;
};

struct CoolRequest {
    std::int32_t setpoint = 0;  // tenths of a degree
    bool wait = false;
    double tolerance = 0;  // C
    std::chrono::milliseconds timeout{0};
    bool quiet = false;
};

CoolRequest CheckCoolOptions(const CoolOptions& options);

// Setpoints the tool accepts, in C: wider than any cooler reaches, narrow
// enough to stay clear of the camera's 16-bit field.
inline constexpr double kMinSetpointCelsius = -100.0;
inline constexpr double kMaxSetpointCelsius = 50.0;

}  // namespace tarnscsi::tool
