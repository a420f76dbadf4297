#include "page_routes.h"

#include <nlohmann/json.hpp>
#include <stdexcept>

#include <tarnscsi/frame.h>
#include <tarnscsi/units.h>

#include "http_status.h"
#include "imaging/png_preview.h"
#include "page_assets.h"
#include "request_parameters.h"
#include "setup_page.h"

namespace tarnscsi::alpaca {
namespace {

using nlohmann::json;

void Refuse(HttpResponse& response, int status, const std::string& message) {
    response.status = status;
    response.SetContent(json{{"ok", false}, {"message", message}}.dump(), kJson);
}

}  // namespace

CameraPage::CameraPage(CameraDevice& camera, const ServerOptions& serverOptions)
    : device(camera), options(serverOptions) {}

void CameraPage::Route(HttpRoutes& server) {
    for (std::size_t i = 0; i < kPageAssetCount; ++i) {
        const PageAsset& asset = kPageAssets[i];
        server.Get(asset.path, [&asset](const HttpRequest&, HttpResponse& r) {
            r.SetContent(asset.bytes.data(), asset.bytes.size(), asset.type);
        });
    }
    server.Get("/page/status", [this](const HttpRequest&, HttpResponse& r) {
        r.SetHeader("Cache-Control", "no-store");
        r.SetContent(StatusJson(), kJson);
    });
    server.Get("/page/cooling", [this](const HttpRequest&, HttpResponse& r) {
        r.SetHeader("Cache-Control", "no-store");
        r.SetContent(CoolingJson(), kJson);
    });
    server.Get(R"(/page/frame(\.png|\.fits)?)", [this](const HttpRequest& q, HttpResponse& r) {
        r.SetHeader("Cache-Control", "no-store");
        std::string why;
        const auto frame = FrameNamed(q.Param("frame"), why);
        if (!frame) return Refuse(r, kNotFound, why);
        const Image& image = *frame->image;
        const std::string kind = q.matches[1];
        if (kind == ".png")
            return r.SetContent(reinterpret_cast<const char*>(frame->png.data()), frame->png.size(), kPng);
        if (kind == ".fits") {
            const std::string software = "tarnscsi-alpaca " + options.version;
            r.SetHeader("Content-Disposition", "attachment; filename=\"" + FitsNameFor(image) + "\"");
            return r.SetContent(imaging::FitsFile(RowsOf(image), FitsKeywordsFor(image, image.type, software)), kFits);
        }
        const imaging::FrameSummary& s = frame->summary;
        const imaging::FitsKeywords header = FitsKeywordsFor(image, image.type, "");
        json value = {{"id", image.number},
                      {"width", image.width},
                      {"height", image.height},
                      {"exposure", image.seconds},
                      {"start", image.start},
                      {"binning", header.binning},
                      {"x", header.originX},
                      {"y", header.originY},
                      {"type", header.imageType},
                      {"temperature", header.ccdTemperature ? json(*header.ccdTemperature) : json()},
                      {"setpoint", header.setpoint ? json(*header.setpoint) : json()},
                      {"minimum", s.minimum},
                      {"median", s.median},
                      {"maximum", s.maximum},
                      {"saturated", s.saturated},
                      {"histogram", s.histogram},
                      {"binWidth", s.histogramBinWidth},
                      {"fitsName", FitsNameFor(image)}};
        r.SetContent(value.dump(), kJson);
    });
}

std::string CameraPage::StatusJson() {
    const DeviceStatus s = device.Status();
    json cooling = {{"coolerOn", s.coolerOn},
                    {"warmingUp", s.warmingUp},
                    {"setpoint", s.setpoint ? json(*s.setpoint) : json()},
                    // Where the cooler control foretells the sensor levels
                    // off when the setpoint is out of reach.
                    {"limit", s.limit ? json(*s.limit) : json()},
                    {"temperature", nullptr},
                    {"power", nullptr}};
    if (s.cooling) {
        cooling["temperature"] = TenthsToCelsius(s.cooling->temperature);
        cooling["power"] = DriveToPercent(s.cooling->coolerDrive);
    }
    json value = {{"connected", s.connected},   {"simulated", options.simulated},
                  {"version", options.version}, {"state", StateName(s.state)},
                  {"percent", nullptr},         {"lastError", s.lastError},
                  {"lastStart", s.lastStart},   {"cooling", cooling},
                  {"image", nullptr},           {"frame", nullptr},
                  {"camera", nullptr},          {"sensor", {{"width", kSensorWidth}, {"height", kSensorHeight}}}};
    if (s.connected) {
        value["camera"] = {{"vendor", s.identity.vendor},     {"product", s.identity.product},
                           {"revision", s.identity.revision}, {"adapter", s.identity.adapter},
                           {"target", s.identity.target},     {"manager", s.identity.managerPath}};
        if (s.percent) value["percent"] = *s.percent;
        value["frame"] = {{"bin", s.frame.bin},
                          {"startX", s.frame.startX},
                          {"startY", s.frame.startY},
                          {"numX", s.frame.numX},
                          {"numY", s.frame.numY}};
        if (s.image) value["image"] = s.image->number;
    }
    return value.dump();
}

std::string CameraPage::CoolingJson() {
    const std::vector<CoolingPoint> points = history.Points();
    json rows = json::array();
    const double newest = points.empty() ? 0 : points.back().seconds;
    for (const CoolingPoint& p : points) {
        // Seconds before the newest reading, so the page needs no clock.
        rows.push_back({p.seconds - newest, p.temperature, p.power, p.setpoint ? json(*p.setpoint) : json()});
    }
    return json{{"span", CoolingHistory::kSpanSeconds}, {"points", rows}}.dump();
}

std::shared_ptr<const CameraPage::Prepared> CameraPage::LastFrame(std::string& why) {
    auto answer = device.LastImage();
    if (const Failure* failure = std::get_if<Failure>(&answer)) {
        why = failure->message;
        return nullptr;
    }
    auto image = std::get<std::shared_ptr<const Image>>(answer);
    std::lock_guard lock(mutex);
    if (prepared && prepared->image == image) return prepared;
    auto next = std::make_shared<Prepared>();
    next->image = image;
    next->summary = imaging::Summarise(image->columns);
    next->png = imaging::PngPreview(RowsOf(*image));
    prepared = next;
    return prepared;
}

std::shared_ptr<const CameraPage::Prepared> CameraPage::FrameNamed(const std::string& id, std::string& why) {
    if (!id.empty()) {
        std::lock_guard lock(mutex);
        if (prepared && std::to_string(prepared->image->number) == id) return prepared;
    }
    auto newest = LastFrame(why);
    if (id.empty() || (newest && std::to_string(newest->image->number) == id)) return newest;
    why = "there is no frame " + id + ": the server keeps the newest frame only" +
          (newest ? " (" + std::to_string(newest->image->number) + "; reload the page)" : "");
    return nullptr;
}

void CameraPage::Control(const std::string& path, const std::string& body, HttpResponse& response) {
    const RequestParameters form = RequestParameters::FromForm(body);
    const std::string what = path.substr(std::string(kPageControlPrefix).size());
    Failure failure;
    try {
        if (what == "connect") {
            failure = form.Bool("Connected") ? device.Connect() : device.Disconnect();
        } else if (what == "cooler") {
            failure = Cooler(form);
        } else if (what == "expose") {
            failure = Expose(form);
        } else if (what == "abort") {
            failure = device.AbortExposure();
        } else {
            return Refuse(response, kNotFound, "the page has no control '" + what + "'");
        }
    } catch (const BadRequest& bad) {
        return Refuse(response, kBadRequest, what + ": " + bad.message);
    }
    if (failure) return Refuse(response, kConflict, failure.message);
    response.SetContent(json{{"ok", true}, {"message", ""}}.dump(), kJson);
}

Failure CameraPage::Cooler(const RequestParameters& form) {
    // Both read before either acts: a malformed one changes nothing.
    std::optional<double> setpoint;
    std::optional<bool> on;
    if (form.Find("Setpoint")) setpoint = form.Number("Setpoint");
    if (form.Find("CoolerOn")) on = form.Bool("CoolerOn");
    if (setpoint) {
        if (Failure failure = device.SetSetCcdTemperature(*setpoint)) return failure;
    }
    // Off is the device's gentle warm-up, never a sudden stop.
    if (on) return device.SetCoolerOn(*on);
    return {};
}

Failure CameraPage::Expose(const RequestParameters& form) {
    const auto type = imaging::ImageTypeNamed(form.Text("Type"));
    if (!type) throw BadRequest{"Type '" + form.Text("Type") + "' is none of light, dark, bias, flat"};
    const double seconds = form.Number("Duration");
    const FrameSettings frame{form.Integer("Bin"), form.Integer("StartX"), form.Integer("StartY"), form.Integer("NumX"),
                              form.Integer("NumY")};
    // The frame is set with the start, or not at all.
    return device.StartExposure(seconds, *type, frame);
}

}  // namespace tarnscsi::alpaca
