#include "sg/time_limit.h"

#include <charconv>
#include <cstring>

namespace tarnscsi::sg {

TimeLimit CommandTimeLimit(const char* setting) {
    const std::string name = kTimeLimitVariable;
    if (setting != nullptr) {
        long long seconds = 0;
        const char* end = setting + std::strlen(setting);
        const auto [next, error] = std::from_chars(setting, end, seconds);
        if (error == std::errc{} && next == end && seconds >= 1 && seconds <= kLongestTimeLimit.count()) {
            const std::chrono::seconds limit{seconds};
            return {limit, "command time limit: " + std::to_string(seconds) + " s (" + name + ")"};
        }
        return {kDefaultTimeLimit,
                name + "=\"" + setting + "\" ignored (whole seconds from 1 to " +
                    std::to_string(kLongestTimeLimit.count()) +
                    "); command time limit: " + std::to_string(kDefaultTimeLimit.count()) + " s",
                true};
    }
    return {kDefaultTimeLimit, "command time limit: " + std::to_string(kDefaultTimeLimit.count()) + " s"};
}

}  // namespace tarnscsi::sg