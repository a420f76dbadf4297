// The time limit the kernel puts on every command: a default, or whole
// seconds from the environment for cameras whose commands take longer.
#pragma once

#include <chrono>
#include <string>

#include "aspi_sg_report.h"

namespace tarnscsi::sg {

inline constexpr char kTimeLimitVariable[] = SG_TIME_LIMIT_VARIABLE;
inline constexpr std::chrono::seconds kDefaultTimeLimit{60};
inline constexpr std::chrono::seconds kLongestTimeLimit{86400};

struct TimeLimit {
    std::chrono::milliseconds limit;
    std::string note;      // what the report says about it
    bool ignored = false;  // the setting was refused and the default applies
};

// `setting` is the variable's value, or null when it is not set. A value
// that is not whole seconds from 1 to kLongestTimeLimit is ignored, and the
// note says so.
TimeLimit CommandTimeLimit(const char* setting);

}  // namespace tarnscsi::sg