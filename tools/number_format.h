// Numbers as the tool shows them in messages and on the terminal.
#pragma once

#include <string>

namespace tarnscsi::tool {

// `value` with a fixed number of decimals: Fixed(-10, 1) is "-10.0".
std::string Fixed(double value, int decimals);

// A plain decimal number: digits with an optional sign, point and exponent.
// Not "", "0x10", "inf" or "nan", which a C conversion would take.
bool IsPlainNumber(const std::string& text);

}  // namespace tarnscsi::tool
