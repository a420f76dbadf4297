// A refused number in a message, as the caller gave it: the shortest text
// that reads back as the same value, never rounded to the precision of the
// range it missed (a setpoint of -100.01 is "not -100.01 C", not "-100.0").
#pragma once

#include <charconv>
#include <string>
#include <system_error>

namespace tarnscsi {

// Plain decimals as people type them ("-0.0004"); the exponent form only
// for a value that would take more room than that.
inline std::string ValueAsGiven(double value) {
    char text[32];  // the shortest form of any double takes at most 24
    std::to_chars_result written = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
    if (written.ec != std::errc()) written = std::to_chars(text, text + sizeof text, value);
    return std::string(text, written.ptr);
}

}  // namespace tarnscsi
