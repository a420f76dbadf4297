#include "progress.h"

#include <algorithm>
#include <cmath>

#include "terminal.h"

namespace tarnscsi::tool {

ProgressLine::ProgressLine(std::FILE* out, bool quiet) : stream(out), enabled(!quiet && IsTerminal(out)) {}

ProgressLine::~ProgressLine() { Clear(); }

void ProgressLine::Show(const std::string& text) {
    if (!enabled) return;
    EraseLine(stream, width);
    std::fputs(text.c_str(), stream);
    width = text.size();
    std::fflush(stream);
    shown = true;
}

void ProgressLine::Clear() {
    if (!shown) return;
    EraseLine(stream, width);
    std::fflush(stream);
    shown = false;
}

std::string ProgressBar(double fraction, int width) {
    const double clamped = std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0;
    const int filled = static_cast<int>(std::lround(clamped * width));
    // Appended piece by piece: "..." + std::string&& trips GCC 12's -Wrestrict at -O2 (a false positive).
    std::string bar = "[";
    bar.append(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(width - filled), '.');
    bar += ']';
    return bar;
}

}  // namespace tarnscsi::tool
