#include "number_format.h"

#include <cstdio>

namespace tarnscsi::tool {

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

}  // namespace tarnscsi::tool
