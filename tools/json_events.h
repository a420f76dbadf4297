// Machine-readable output: every JSON document the tool prints carries the
// schema version, and --json on expose and cool prints one object per line
// for each event (started, progress, saved, reached, error).
#pragma once

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "expose_command.h"

namespace tarnscsi::tool {

// Raised when the meaning of a field changes or one is removed.
inline constexpr int kJsonSchema = 1;

// The indent of the documents `scan --json` and `status --json` print.
inline constexpr int kJsonIndent = 2;

// `document` with "schema" first, on one line (indent < 0) or indented;
// with "trace_error" last when the command trace asked for was lost.
std::string JsonText(nlohmann::json document, int indent = -1);

// One event line on `stream`, flushed at once: {"schema":1,"event":NAME,...}.
void PrintJsonEvent(const std::string& name, nlohmann::json fields = nlohmann::json::object(),
                    std::FILE* stream = stdout);

// The expose command's events as JSON lines, on stdout, or on stderr when the
// FITS itself goes to stdout.
class JsonExposeEvents : public ExposeObserver {
public:
    explicit JsonExposeEvents(std::FILE* eventStream) : stream(eventStream) {}
    void Started(const FrameProgress& progress) override;
    void Waiting(const FrameProgress& progress) override;
    void FrameDone(const SavedFrame& frame) override;
    void Warning(const std::string& message) override;

private:
    std::FILE* stream;
    int lastNumber = 0;
    FramePhase lastPhase = FramePhase::kExposing;
    double lastElapsed = 0;
};

}  // namespace tarnscsi::tool
