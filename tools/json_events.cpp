#include "json_events.h"

#include <cstdio>

#include "trace_loss.h"

namespace tarnscsi::tool {

namespace {

// Progress events come at phase changes and at most this often within one.
constexpr double kProgressIntervalSeconds = 1.0;

const char* PhaseName(FramePhase phase) {
    switch (phase) {
        case FramePhase::kReadingOut: return "reading_out";
        case FramePhase::kDownloading: return "downloading";
        case FramePhase::kExposing: break;
    }
    return "exposing";
}

}  // namespace

std::string JsonText(nlohmann::json document, int indent) {
    nlohmann::ordered_json out;
    out["schema"] = kJsonSchema;
    for (auto& [key, value] : document.items()) out[key] = value;
    if (const std::string lost = TraceLost(); !lost.empty()) out["trace_error"] = lost;
    return out.dump(indent);
}

void PrintJsonEvent(const std::string& name, nlohmann::json fields, std::FILE* stream) {
    nlohmann::ordered_json out;
    out["schema"] = kJsonSchema;
    out["event"] = name;
    for (auto& [key, value] : fields.items()) out[key] = value;
    std::fprintf(stream, "%s\n", out.dump().c_str());
    std::fflush(stream);
}

void JsonExposeEvents::Started(const FrameProgress& p) {
    lastNumber = p.number;
    lastPhase = FramePhase::kExposing;
    lastElapsed = 0;
    PrintJsonEvent("started", {{"frame", p.number}, {"count", p.count}, {"exposure_s", p.exposure}}, stream);
}

void JsonExposeEvents::Waiting(const FrameProgress& p) {
    if (p.number == lastNumber && p.phase == lastPhase && p.elapsed < lastElapsed + kProgressIntervalSeconds) return;
    lastNumber = p.number;
    lastPhase = p.phase;
    lastElapsed = p.elapsed;
    PrintJsonEvent("progress",
                   {{"frame", p.number},
                    {"count", p.count},
                    {"phase", PhaseName(p.phase)},
                    {"elapsed_s", p.elapsed},
                    {"exposure_s", p.exposure}},
                   stream);
}

void JsonExposeEvents::FrameDone(const SavedFrame& frame) {
    nlohmann::json fields = {{"frame", frame.number},       {"count", frame.count},   {"fits", frame.fitsPath},
                             {"width", frame.width},        {"height", frame.height}, {"binning", frame.binning},
                             {"exposure_s", frame.exposure}};
    fields["preview"] = frame.previewPath ? nlohmann::json(*frame.previewPath) : nlohmann::json(nullptr);
    fields["ccd_temp_c"] = frame.ccdTemperature ? nlohmann::json(*frame.ccdTemperature) : nlohmann::json(nullptr);
    PrintJsonEvent("saved", std::move(fields), stream);
}

void JsonExposeEvents::Warning(const std::string& message) {
    // Said once on stderr: as a line for a person, or as the event there.
    if (stream != stderr) std::fprintf(stderr, "tarnscsi: warning: %s\n", message.c_str());
    PrintJsonEvent("warning", {{"message", message}}, stream);
}

}  // namespace tarnscsi::tool
