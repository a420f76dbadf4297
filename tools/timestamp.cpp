#include "timestamp.h"

#include <cstdio>
#include <ctime>

namespace tarnscsi::tool {

namespace {
// Room for any year gmtime can give, the fraction and the terminator.
constexpr std::size_t kTextSize = 64;
}  // namespace

std::string IsoUtcMilliseconds(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto sinceEpoch = duration_cast<milliseconds>(when.time_since_epoch());
    auto wholeSeconds = duration_cast<seconds>(sinceEpoch);
    auto millis = sinceEpoch - wholeSeconds;
    if (millis.count() < 0) {  // before 1970: keep the fraction positive
        wholeSeconds -= seconds(1);
        millis += seconds(1);
    }
    const std::time_t time = static_cast<std::time_t>(wholeSeconds.count());
    std::tm utc{};
    gmtime_r(&time, &utc);
    char text[kTextSize];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%03d", static_cast<int>(millis.count()));
    return text;
}

}  // namespace tarnscsi::tool
