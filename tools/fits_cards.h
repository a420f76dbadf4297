// What a user may add to a frame's FITS header: keywords by the standard's
// form, values that fit on one card, and none of the keywords the tool
// writes itself.
#pragma once

#include <string>

namespace tarnscsi::tool {

// "" when KEY=VALUE may go into the header; else why not.
std::string FitsCardProblem(const std::string& key, const std::string& value);

// "" when `text` fits on one card as a string value (printable ASCII, at
// most 68 characters); else why not.
std::string FitsTextProblem(const std::string& text);

// A --key value that reads as a number is written as one.
bool IsFitsNumber(const std::string& value);

}  // namespace tarnscsi::tool
