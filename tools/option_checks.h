// Checks of single option values, as CLI11 validators: each one refuses the
// value as typed (never a rounded copy of it) and describes its range, so
// that --help shows every range.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace tarnscsi::tool {

// A plain decimal number: digits with an optional sign, point and exponent.
// Refuses "", "0x10", "inf" and "nan", which a C conversion would take.
CLI::Validator PlainNumber();

// A plain decimal number within [low, high], shown with `decimals` decimals.
CLI::Validator NumberFrom(double low, double high, int decimals, const std::string& unit);

// A plain decimal number above 0 and at most `high`.
CLI::Validator PositiveUpTo(double high, int decimals, const std::string& unit);

// KEY=VALUE where KEY is a FITS keyword the tool does not write itself.
CLI::Validator FitsCard();

// A value that fits on a FITS card as a string.
CLI::Validator FitsText();

}  // namespace tarnscsi::tool
