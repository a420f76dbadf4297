// Numbers as the tool shows them in messages and on the terminal.
#pragma once

#include <string>

namespace tarnscsi::tool {

// `value` with a fixed number of decimals: Fixed(-10, 1) is "-10.0".
std::string Fixed(double value, int decimals);

}  // namespace tarnscsi::tool
