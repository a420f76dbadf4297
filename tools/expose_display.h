// What a person at a terminal sees while `expose` runs: a progress line on
// stderr (exposure bar, readout, download), and one line per saved frame on
// stdout. Quiet mode keeps stdout empty and draws no progress; warnings go to
// stderr either way.
#pragma once

#include "expose_command.h"
#include "progress.h"

namespace tarnscsi::tool {

class ExposeDisplay : public ExposeObserver {
public:
    // Saved frames are reported on `report` (stderr when the FITS itself goes
    // to stdout).
    ExposeDisplay(bool quiet, std::FILE* report);
    void Waiting(const FrameProgress& progress) override;
    void FrameDone(const SavedFrame& frame) override;
    void Warning(const std::string& message) override;

private:
    bool quiet;
    std::FILE* report;
    ProgressLine line;
};

}  // namespace tarnscsi::tool
