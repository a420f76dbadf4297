#include "option_checks.h"

#include <cstdlib>

#include "imaging/fits_cards.h"
#include "number_format.h"

namespace tarnscsi::tool {

namespace {

std::string NotANumber(const std::string& text) { return "'" + text + "' is not a plain decimal number"; }

}  // namespace

CLI::Validator PlainNumber() {
    return CLI::Validator(
        [](std::string& input) { return imaging::IsPlainNumber(input) ? std::string() : NotANumber(input); }, "NUMBER");
}

CLI::Validator NumberFrom(double low, double high, int decimals, const std::string& unit) {
    const std::string range = Fixed(low, decimals) + " to " + Fixed(high, decimals) + (unit.empty() ? "" : " " + unit);
    return CLI::Validator(
        [low, high, range](std::string& input) {
            if (!imaging::IsPlainNumber(input)) return NotANumber(input);
            const double value = std::strtod(input.c_str(), nullptr);
            if (!(value >= low && value <= high)) return input + " is not within " + range;
            return std::string();
        },
        "in [" + range + "]");
}

CLI::Validator PositiveUpTo(double high, int decimals, const std::string& unit) {
    const std::string range = "more than 0 and at most " + Fixed(high, decimals) + (unit.empty() ? "" : " " + unit);
    return CLI::Validator(
        [high, range](std::string& input) {
            if (!imaging::IsPlainNumber(input)) return NotANumber(input);
            const double value = std::strtod(input.c_str(), nullptr);
            if (!(value > 0 && value <= high)) return input + " is not " + range;
            return std::string();
        },
        range);
}

CLI::Validator FitsCard() {
    return CLI::Validator(
        [](std::string& input) {
            const auto equals = input.find('=');
            if (equals == std::string::npos) return "'" + input + "' is not KEY=VALUE";
            return imaging::FitsCardProblem(input.substr(0, equals), input.substr(equals + 1));
        },
        "KEY=VALUE");
}

CLI::Validator FitsText() {
    return CLI::Validator([](std::string& input) { return imaging::FitsTextProblem(input); }, "TEXT");
}

}  // namespace tarnscsi::tool
