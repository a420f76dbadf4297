#include "setup_page.h"

#include <cstdio>

#include <tarnscsi/units.h>

namespace tarnscsi::alpaca {
namespace {

std::string Escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string Row(const std::string& id, const std::string& name, const std::string& value) {
    return "<tr><th>" + Escaped(name) + "</th><td id=\"" + id + "\">" + Escaped(value) + "</td></tr>\n";
}

std::string Fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

}  // namespace

const char* StateName(CameraState state) {
    switch (state) {
        case CameraState::kIdle: return "idle";
        case CameraState::kWaiting: return "waiting";
        case CameraState::kExposing: return "exposing";
        case CameraState::kReading: return "reading out";
        case CameraState::kDownload: return "downloading";
        case CameraState::kError: return "error";
    }
    return "unknown";
}

std::string SetupPage(const DeviceStatus& s, const ServerOptions& options, int port, int discoveryPort) {
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<meta http-equiv=\"refresh\" content=\"5\"><title>tarnscsi camera</title></head><body>\n"
        "<h1>tarnscsi camera</h1>\n<h2>Camera</h2>\n<table>\n";
    page += Row("connected", "Connected",
                s.connected ? "yes" : (s.warmingUp ? "no (the camera is kept until its warm-up ends)" : "no"));
    if (s.connected) {
        page += Row("identity", "Camera", s.identity.vendor + " " + s.identity.product + " " + s.identity.revision);
        page += Row("address", "Address",
                    "adapter " + std::to_string(s.identity.adapter) + ", target " + std::to_string(s.identity.target));
    }
    page += "</table>\n<h2>Cooling</h2>\n<table>\n";
    page += Row("temperature", "Sensor temperature",
                s.cooling ? Fixed(TenthsToCelsius(s.cooling->temperature), kTemperatureDecimals) + " C" : "unknown");
    page += Row("cooler-power", "Cooler power",
                s.cooling ? Fixed(DriveToPercent(s.cooling->coolerDrive), 0) + " %" : "unknown");
    page += Row("cooler", "Cooler", s.warmingUp ? "warming up" : (s.coolerOn ? "on" : "off"));
    page += Row("setpoint", "Setpoint", s.setpoint ? Fixed(*s.setpoint, kTemperatureDecimals) + " C" : "not set");
    page += "</table>\n<h2>Exposure</h2>\n<table>\n";
    page += Row("state", "State", StateName(s.state));
    page += Row("image-ready", "Image ready", s.imageReady ? "yes" : "no");
    page += Row("last-start", "Last start (UTC)", s.lastStart.empty() ? "none" : s.lastStart);
    page += Row("last-duration", "Last duration",
                s.lastDuration ? Fixed(*s.lastDuration, kExposureDecimals) + " s" : "none");
    if (!s.lastError.empty()) page += Row("last-error", "Last error", s.lastError);
    page += "</table>\n<h2>Server</h2>\n<table>\n";
    page += Row("listen", "Listening on", options.listen + ":" + std::to_string(port));
    page += Row("discovery", "Discovery",
                options.discovery ? "UDP port " + std::to_string(discoveryPort) : std::string("off"));
    page += Row("manager", "Camera", options.simulated ? "simulated" : "through the installed manager");
    page += Row("version", "Version", options.version);
    page += "</table>\n<p>Settings are given on the command line (tarnscsi-alpaca --help).</p>\n</body></html>\n";
    return page;
}

}  // namespace tarnscsi::alpaca
