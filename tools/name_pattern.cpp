#include "name_pattern.h"

#include <cctype>

#include "errors.h"

namespace tarnscsi::tool {

namespace {

// Wider counters would only make absurd names.
constexpr int kMaxCounterWidth = 9;

UsageError BadPattern(const std::string& text, const std::string& why) {
    return UsageError("output name '" + text + "': " + why +
                      " (use one %d or %0Nd counter such as %04d, and %% for a percent sign)");
}

}  // namespace

NamePattern NamePattern::Parse(const std::string& text) {
    NamePattern pattern;
    pattern.text = text;
    if (text.empty()) throw UsageError("output name is empty");
    std::string* out = &pattern.prefix;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            *out += text[i];
            continue;
        }
        std::size_t j = i + 1;
        if (j < text.size() && text[j] == '%') {
            *out += '%';
            i = j;
            continue;
        }
        bool zeroPad = false;
        if (j < text.size() && text[j] == '0') {
            zeroPad = true;
            ++j;
        }
        int width = 0;
        while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) {
            width = width * 10 + (text[j] - '0');
            if (width > kMaxCounterWidth) throw BadPattern(text, "counter too wide");
            ++j;
        }
        if (j >= text.size() || text[j] != 'd') throw BadPattern(text, "unsupported % sequence");
        // "%9d" would pad with spaces: names with blanks in them.
        if (width > 0 && !zeroPad) throw BadPattern(text, "a counter with a width pads with zeros only");
        if (pattern.hasCounter) throw BadPattern(text, "more than one counter");
        pattern.hasCounter = true;
        pattern.zeroPad = zeroPad;
        pattern.width = width;
        out = &pattern.suffix;
        i = j;
    }
    return pattern;
}

std::string NamePattern::Expand(int number) const {
    if (!hasCounter) return prefix;
    std::string digits = std::to_string(number);
    if (static_cast<int>(digits.size()) < width) {
        digits.insert(0, static_cast<std::size_t>(width) - digits.size(), '0');
    }
    return prefix + digits + suffix;
}

}  // namespace tarnscsi::tool
