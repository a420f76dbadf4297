#include "expose_display.h"

#include <cstdio>

#include <tarnscsi/units.h>

#include "number_format.h"

namespace tarnscsi::tool {

namespace {
constexpr int kBarWidth = 30;
constexpr int kSecondsDecimals = 1;
}  // namespace

ExposeDisplay::ExposeDisplay(bool quietMode, std::FILE* reportStream)
    : quiet(quietMode), report(reportStream), line(stderr, quietMode) {}

void ExposeDisplay::Waiting(const FrameProgress& p) {
    if (!line.Enabled()) return;
    std::string text;
    if (p.count > 1) text = "Frame " + std::to_string(p.number) + "/" + std::to_string(p.count) + "  ";
    switch (p.phase) {
        case FramePhase::kExposing:
            text += "Exposing " + ProgressBar(p.exposure > 0 ? p.elapsed / p.exposure : 1.0, kBarWidth) + " " +
                    Fixed(p.elapsed, kSecondsDecimals) + " / " + Fixed(p.exposure, kSecondsDecimals) + " s";
            break;
        case FramePhase::kReadingOut: text += "Reading out " + Fixed(p.elapsed, kSecondsDecimals) + " s"; break;
        case FramePhase::kDownloading: text += "Downloading " + Fixed(p.elapsed, kSecondsDecimals) + " s"; break;
    }
    line.Show(text);
}

void ExposeDisplay::FrameDone(const SavedFrame& frame) {
    line.Clear();
    if (quiet) return;
    std::string text = "Saved " + frame.fitsPath + " (" + std::to_string(frame.width) + " x " +
                       std::to_string(frame.height) + ", bin " + std::to_string(frame.binning) + ", " +
                       Fixed(frame.exposure, kExposureDecimals) + " s";
    if (frame.ccdTemperature) text += ", sensor " + Fixed(*frame.ccdTemperature, kTemperatureDecimals) + " C";
    text += ")";
    std::fprintf(report, "%s\n", text.c_str());
    if (frame.previewPath) std::fprintf(report, "Preview %s\n", frame.previewPath->c_str());
    std::fflush(report);
}

void ExposeDisplay::Warning(const std::string& message) {
    line.Clear();
    std::fprintf(stderr, "tarnscsi: warning: %s\n", message.c_str());
}

}  // namespace tarnscsi::tool
