// Output names for a sequence of frames: a path with at most one printf-style
// counter, %d or %0Nd (for example frame_%04d.fits gives frame_0001.fits,
// frame_0002.fits, ...); %% stands for a literal percent sign.
#pragma once

#include <string>

namespace tarnscsi::tool {

class NamePattern {
public:
    // Throws UsageError naming the pattern when it holds any other %
    // sequence, or more than one counter.
    static NamePattern Parse(const std::string& text);

    bool HasCounter() const { return hasCounter; }
    const std::string& Text() const { return text; }
    // The name of frame `number`; without a counter, always the same name.
    std::string Expand(int number) const;

private:
    std::string text;
    std::string prefix;
    std::string suffix;
    bool hasCounter = false;
    bool zeroPad = false;
    int width = 0;
};

}  // namespace tarnscsi::tool
