#include "number_message.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace tarnscsi::indi {
namespace {

// Enough for the shortest form of any double ("-2.2250738585072014e-308").
constexpr std::size_t kNumberTextSize = 32;

}  // namespace

std::string NumberAsGiven(double value) {
    if (std::isnan(value)) return "nan";
    char text[kNumberTextSize];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return {text, end};
}

std::string NumberMessageProblem(const double values[], char* const names[], int n, bool whole) {
    for (int i = 0; i < n; ++i) {
        const double value = values[i];
        const std::string element = names[i];
        if (std::isnan(value)) return element + " is nan, not a number";
        if (!std::isfinite(value)) return element + " is " + NumberAsGiven(value) + ", not a finite number";
        // Written so that the int conversion INDI makes is defined.
        if (whole && (value != std::trunc(value) || value < std::numeric_limits<int>::min() ||
                      value > std::numeric_limits<int>::max())) {
            return element + " is " + NumberAsGiven(value) + ", not a whole number";
        }
    }
    return {};
}

std::string NumberRangeProblem(const char* element, double value, double min, double max) {
    // Written so that NaN fails too.
    if (value >= min && value <= max) return {};
    return std::string(element) + " must be from " + NumberAsGiven(min) + " to " + NumberAsGiven(max) + ", not " +
           NumberAsGiven(value);
}

}  // namespace tarnscsi::indi
