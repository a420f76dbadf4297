// What each subcommand was asked to do: first as typed (seconds, degrees,
// names), then checked and converted to the camera's units. The checks run
// before anything touches the camera or a file.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <tarnscsi/cooler_control.h>
#include <tarnscsi/cooling.h>
#include <tarnscsi/exposure_settings.h>
#include <tarnscsi/units.h>

#include "imaging/frame_metadata.h"
#include "imaging/frame_type.h"
#include "name_pattern.h"

namespace tarnscsi::tool {

// The output name that stands for standard output (-o -), as for cfitsio.
inline constexpr char kStandardOutputName[] = "-";

// The frame types and the observer's header cards, from the imaging library.
using imaging::FrameMetadata;
using imaging::ImageType;

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
    bool json = false;
    FrameMetadata metadata;
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
    bool json = false;
    bool toStandardOutput = false;  // -o -: the FITS goes to stdout
    FrameMetadata metadata;
};

// Throws UsageError naming the offending option and value.
ExposeRequest CheckExposeOptions(const ExposeOptions& options);

// -o -: the FITS goes to stdout, and everything else the command says to stderr.
bool FitsToStandardOutput(const ExposeOptions& options);

struct CoolOptions {
    std::optional<double> celsius;
    bool off = false;                  // warm up gently, then leave the cooler idle
    double ramp = kDefaultWarmUpRate;  // C per minute while warming up
    bool wait = false;
    double tolerance = 0.5;  // C
    double timeout = 300;    // s
    bool quiet = false;
    bool json = false;
};

struct CoolRequest {
    std::int32_t setpoint = 0;  // tenths of a degree
    bool off = false;
    double ramp = kDefaultWarmUpRate;
    bool wait = false;
    double tolerance = 0;  // C
    std::chrono::milliseconds timeout{0};
    bool quiet = false;
    bool json = false;
};

CoolRequest CheckCoolOptions(const CoolOptions& options);

// The most frames one run takes: every name is checked before the first
// exposure, so the check must stay quick.
inline constexpr int kMaxFrameCount = 100000;

// Setpoints the tool accepts, in C: the camera's useful range.
inline constexpr double kMinSetpointCelsius = TenthsToCelsius(kLowestSetpoint);
inline constexpr double kMaxSetpointCelsius = TenthsToCelsius(kHighestSetpoint);
inline constexpr double kMaxToleranceCelsius = 10.0;
inline constexpr double kMaxWaitSeconds = 24 * 3600.0;
// Focal lengths and apertures in mm.
inline constexpr double kMaxOpticsMillimetres = 100000.0;
inline constexpr double kMaxElectronsPerAdu = 1000.0;

}  // namespace tarnscsi::tool
