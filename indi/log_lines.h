// INDI cuts every log message a driver sends at about 250 characters; what
// the camera said (the command, its statuses and sense, the advice) is often
// longer. Long texts go out as several lines instead, broken where the text
// has a natural pause.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tarnscsi::indi {

// Room for one message's text, leaving INDI's level prefix ("[WARNING] ")
// and its terminator within its 255-character message.
inline constexpr std::size_t kLogLineLimit = 230;

// Marks the lines that continue the one before.
inline constexpr char kContinuation[] = "... ";

// `text` as lines of at most `limit` characters (continuation mark
// included), broken after "; ", else after ", ", else at a space, else
// anywhere. One line when it fits; nothing is lost.
std::vector<std::string> LogLines(const std::string& text, std::size_t limit = kLogLineLimit);

}  // namespace tarnscsi::indi
