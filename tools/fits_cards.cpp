#include "fits_cards.h"

#include <algorithm>
#include <array>
#include <regex>
#include <string_view>

namespace tarnscsi::tool {

namespace {

// A keyword is 1 to 8 of upper-case letters, digits, hyphen and underscore.
constexpr std::size_t kMaxKeywordLength = 8;
// Room for a string value on one 80-character card: quotes and "KEYWORD= ".
constexpr std::size_t kMaxTextLength = 68;
constexpr char kFirstPrintable = ' ';
constexpr char kLastPrintable = '~';

// Keywords of the file's structure and those the tool fills in itself.
constexpr std::array<std::string_view, 31> kReservedKeywords = {
    "SIMPLE",   "BITPIX",   "NAXIS",    "NAXIS1",   "NAXIS2",  "EXTEND",   "BZERO",    "BSCALE",
    "END",      "COMMENT",  "HISTORY",  "CONTINUE", "EXPTIME", "DATE-OBS", "CCD-TEMP", "SET-TEMP",
    "XBINNING", "YBINNING", "XORGSUBF", "YORGSUBF", "XPIXSZ",  "YPIXSZ",   "INSTRUME", "IMAGETYP",
    "ROWORDER", "SWCREATE", "DATE",     "OBJECT",   "FILTER",  "OBSERVER", "TELESCOP"};
constexpr std::array<std::string_view, 3> kOptionKeywords = {"FOCALLEN", "APTDIA", "EGAIN"};

bool IsKeywordCharacter(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_'; }

}  // namespace

std::string FitsTextProblem(const std::string& text) {
    if (text.size() > kMaxTextLength) {
        return "'" + text + "' is longer than the " + std::to_string(kMaxTextLength) + " characters a FITS card holds";
    }
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= kFirstPrintable && c <= kLastPrintable; })) {
        return "'" + text + "' holds characters other than printable ASCII, which FITS does not allow";
    }
    return {};
}

std::string FitsCardProblem(const std::string& key, const std::string& value) {
    if (key.empty() || key.size() > kMaxKeywordLength || !std::all_of(key.begin(), key.end(), IsKeywordCharacter)) {
        return "'" + key + "' is not a FITS keyword (1 to 8 of A-Z, 0-9, '-' and '_')";
    }
    const auto reserved = [&key](std::string_view word) { return word == key; };
    if (std::any_of(kReservedKeywords.begin(), kReservedKeywords.end(), reserved) ||
        std::any_of(kOptionKeywords.begin(), kOptionKeywords.end(), reserved)) {
        return key + " is written by the tool itself (or by its own option)";
    }
    return FitsTextProblem(value);
}

bool IsFitsNumber(const std::string& value) {
    static const std::regex kNumber(R"([+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?)");
    return std::regex_match(value, kNumber);
}

}  // namespace tarnscsi::tool
