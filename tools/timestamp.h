// ISO 8601 UTC timestamps with milliseconds, as FITS DATE-OBS wants them:
// 2024-05-01T21:13:05.123
#pragma once

#include <chrono>
#include <string>

namespace tarnscsi::tool {

std::string IsoUtcMilliseconds(std::chrono::system_clock::time_point when);

}  // namespace tarnscsi::tool
