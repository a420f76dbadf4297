// A status line that redraws itself in place on a terminal: an exposure's
// bar, a download's elapsed time, the temperature while cooling. When the
// stream is not a terminal, or the user asked for quiet, it draws nothing.
#pragma once

#include <cstdio>
#include <string>

namespace tarnscsi::tool {

class ProgressLine {
public:
    // Draws on `stream` only when it is a terminal and `quiet` is false.
    ProgressLine(std::FILE* stream, bool quiet);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    bool Enabled() const { return enabled; }
    // Replaces the line's text.
    void Show(const std::string& text);
    // Removes the line, so that ordinary output can follow.
    void Clear();

private:
    std::FILE* stream;
    bool enabled;
    bool shown = false;
    std::size_t width = 0;  // of the text shown
};

// "[#######.............]" for a fraction 0..1 (clamped).
std::string ProgressBar(double fraction, int width);

}  // namespace tarnscsi::tool
