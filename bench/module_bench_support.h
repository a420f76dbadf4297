// What the module benchmarks share: timing and statistics helpers, the
// session steps they repeat through the exports, and DirectCaller, which
// sends the camera's commands straight to the manager's SendASPI32Command
// with the module's completion mechanism (an eventfd, reset before each
// request and waited on only when the manager answers SS_PENDING). What a
// DirectCaller costs is the floor the module is measured against.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "camera_commands.h"
#include "cooling_page.h"
#include <tarnscsi/exposure_settings.h>
#include "platform/kernel.h"

using tarnscsi::ExposureSettings;

namespace tarnscsi::bench {

using Clock = std::chrono::steady_clock;

inline constexpr int kSensorWidth = 768;
inline constexpr int kSensorHeight = 512;
inline constexpr std::uint32_t kFullFrameBytes = kSensorWidth * kSensorHeight * 2;
inline constexpr double kPercent = 100.0;

double Microseconds(Clock::duration duration);
double Median(std::vector<double> values);
// The value below which `fraction` (0..1) of the values lie.
double Quantile(std::vector<double> values, double fraction);

// "immediate" or "pending".
const char* CompletionName(int mode);

// Stops the benchmark with a message: a figure measured on a failing
// session would mean nothing.
[[noreturn]] void Fail(const std::string& what);

// Through the exports: connect (or fail), expose the full frame for 0 ms
// and wait until the camera is ready, so that the image is there to read.
void ConnectOrFail();
void ExposeFullFrameAndWait();

// Full frame, unbinned, 0 ms.
ExposureSettings FullFrame();

class DirectCaller {
public:
    DirectCaller();
    ~DirectCaller();
    DirectCaller(const DirectCaller&) = delete;
    DirectCaller& operator=(const DirectCaller&) = delete;

    // One command of the table to the default camera; true on SS_COMP.
    bool Send(const tarnscsi::camera::CommandSpec& command, std::uint8_t* data, std::uint32_t length);

    // The requests behind each export, sent directly.
    bool Expose(const ExposureSettings& settings);  // SET WINDOW, SCAN
    bool Ready();                                   // TEST UNIT READY
    bool ReadCooling();                             // MODE SENSE
    bool GetWindow();                               // GET WINDOW
    // READ(10)s of at most 2048 bytes into `image`: one request block,
    // prepared once, with only the length and the buffer changed per read.
    bool ReadImage(std::uint8_t* image, std::uint32_t total);

private:
    bool Submit(void* block);

    HANDLE event;
    // Parameter data of the commands other than READ; the cooling list is
    // the longest.
    std::uint8_t data[tarnscsi::camera::cooling::kLength] = {};
};

}  // namespace tarnscsi::bench