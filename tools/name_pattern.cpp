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
    pattern.text_ = text;
    if (text.empty()) throw UsageError("output name is empty");
    std::string* out = &pattern.prefix_;
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
        if (pattern.hasCounter_) throw BadPattern(text, "more than one counter");
        pattern.hasCounter_ = true;
        pattern.zeroPad_ = zeroPad;
        pattern.width_ = width;
        out = &pattern.suffix_;
        i = j;
    }
    return pattern;
}

std::string NamePattern::Expand(int number) const {
    if (!hasCounter_) return prefix_;
    std::string digits = std::to_string(number);
    if (static_cast<int>(digits.size()) < width_) {
        digits.insert(0, static_cast<std::size_t>(width_) - digits.size(), zeroPad_ ? '0' : ' ');
    }
    return prefix_ + digits + suffix_;
}

}  // namespace tarnscsi::tool
