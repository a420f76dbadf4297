#include "number_format.h"

#include <cstdio>
#include <regex>

namespace tarnscsi::tool {

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

bool IsPlainNumber(const std::string& text) {
    static const std::regex kPlain(R"([+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?)");
    return std::regex_match(text, kPlain);
}

}  // namespace tarnscsi::tool
