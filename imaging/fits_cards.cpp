#include "imaging/fits_cards.h"

#include <fitsio.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string_view>

namespace tarnscsi::imaging {

namespace {

// A keyword is 1 to 8 of upper-case letters, digits, hyphen and underscore.
constexpr std::size_t kMaxKeywordLength = 8;
constexpr char kFirstPrintable = ' ';
constexpr char kLastPrintable = '~';
// Significant digits cfitsio writes a real with, and the most a double needs
// to read back exactly.
constexpr int kUsualDigits = 15;
constexpr int kMostDigits = 17;

// Keywords the tool writes itself, and how the user sets them instead.
struct OwnKeyword {
    std::string_view key;
    std::string_view setBy;  // empty: the tool alone
};
constexpr std::array<OwnKeyword, 22> kOwnKeywords = {{
    {"EXPTIME", "the exposure time"},
    {"DATE-OBS", ""},
    {"DATE", ""},
    {"CCD-TEMP", ""},
    {"SET-TEMP", "--set-temp"},
    {"XBINNING", "--bin"},
    {"YBINNING", "--bin"},
    {"XORGSUBF", "--x"},
    {"YORGSUBF", "--y"},
    {"XPIXSZ", ""},
    {"YPIXSZ", ""},
    {"INSTRUME", ""},
    {"IMAGETYP", "--type"},
    {"ROWORDER", ""},
    {"SWCREATE", ""},
    {"OBJECT", "--object"},
    {"FILTER", "--filter"},
    {"OBSERVER", "--observer"},
    {"TELESCOP", "--telescope"},
    {"FOCALLEN", "--focal-length"},
    {"APTDIA", "--aperture"},
    {"EGAIN", "--egain"},
}};

// Keywords that describe how the file is laid out, or that belong to tables,
// random groups or extensions: the tool writes a plain primary image.
constexpr std::array<std::string_view, 16> kStructuralKeywords = {
    "SIMPLE", "BITPIX", "NAXIS", "EXTEND", "XTENSION", "PCOUNT", "GCOUNT",   "GROUPS",
    "END",    "BSCALE", "BZERO", "BLANK",  "TFIELDS",  "THEAP",  "CONTINUE", "INHERIT"};
// Followed by a number: axes, table columns and random-group parameters.
const std::regex kStructuralIndexed(
    R"((NAXIS|TBCOL|TFORM|TTYPE|TUNIT|TSCAL|TZERO|TNULL|TDISP|TDIM|TDMIN|TDMAX|TLMIN|TLMAX|TCTYP|TCUNI|TCRVL|TCDLT|TCRPX|TCROT|PTYPE|PSCAL|PZERO)[0-9].*)");
// Other keywords of the standard the tool leaves out, and why.
struct Refusal {
    std::string_view key;
    std::string_view why;
};
constexpr std::array<Refusal, 6> kRefusedKeywords = {{
    {"CHECKSUM", "sums the file's bytes, which the tool does not compute"},
    {"DATASUM", "sums the file's bytes, which the tool does not compute"},
    {"LONGSTRN", "announces text continued over several cards, which the tool does not write"},
    {"HIERARCH", "starts a long keyword name, which the tool does not write"},
    {"EPOCH", "is retired from the FITS standard; use EQUINOX"},
    {"BLOCKED", "is retired from the FITS standard"},
}};

constexpr std::array<std::string_view, 16> kTextKeywords = {
    "EXTNAME", "ORIGIN",  "AUTHOR",  "CREATOR", "REFERENC", "BUNIT",   "RADESYS", "RADECSYS",
    "SPECSYS", "SSYSOBS", "SSYSSRC", "TIMESYS", "TIMEUNIT", "TREFPOS", "PLEPHEM", "WCSNAME"};
// World coordinates: the axis number, an optional second index, and an
// optional letter of an alternative description.
const std::regex kTextIndexed(R"((CTYPE|CUNIT|CNAME)[0-9]+[A-Z]?|PS[0-9]+_[0-9]+[A-Z]?)");

constexpr std::array<std::string_view, 27> kRealKeywords = {
    "EQUINOX", "MJD-OBS",  "MJD-AVG",  "MJD-BEG",  "MJD-END",  "MJDREF",  "JEPOCH",  "BEPOCH",  "TSTART",
    "TSTOP",   "XPOSURE",  "TELAPSE",  "TIMEDEL",  "TIMEOFFS", "DATAMAX", "DATAMIN", "RESTFRQ", "RESTFREQ",
    "RESTWAV", "OBSGEO-X", "OBSGEO-Y", "OBSGEO-Z", "VELOSYS",  "ZSOURCE", "VELANGL", "LONPOLE", "LATPOLE"};
const std::regex kRealIndexed(R"((CRPIX|CRVAL|CDELT|CROTA|CRDER|CSYER)[0-9]+[A-Z]?|(PC|CD|PV)[0-9]+_[0-9]+[A-Z]?)");

constexpr std::array<std::string_view, 2> kIntegerKeywords = {"EXTVER", "EXTLEVEL"};
const std::regex kIntegerIndexed(R"(WCSAXES[A-Z]?)");

constexpr std::string_view kCommentKeyword = "COMMENT";
constexpr std::string_view kHistoryKeyword = "HISTORY";
// Every keyword beginning so holds a date: FITS readers check its form.
constexpr std::string_view kDatePrefix = "DATE";

template <std::size_t N>
bool OneOf(const std::array<std::string_view, N>& words, const std::string& key) {
    return std::find(words.begin(), words.end(), key) != words.end();
}

bool IsKeywordCharacter(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_'; }

bool IsPrintable(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= kFirstPrintable && c <= kLastPrintable; });
}

// The fewest significant digits, from cfitsio's usual 15, with which `value`
// reads back as itself.
int RoundTripDigits(double value) {
    for (int digits = kUsualDigits; digits < kMostDigits; ++digits) {
        char text[64];
        std::snprintf(text, sizeof text, "%.*G", digits, value);
        if (std::strtod(text, nullptr) == value) return digits;
    }
    return kMostDigits;
}

// Which numbers a keyword takes.
enum class Wanted { kWhole, kReal, kEither };

// A number as FITS holds it: "" or why not. With kEither, a number without a
// point or an exponent stays a whole number.
std::string ParseNumber(const std::string& key, const std::string& value, Wanted wanted, HeaderCard& card) {
    if (!IsPlainNumber(value)) return key + " takes a number, not '" + value + "'";
    const bool whole = value.find_first_of(".eE") == std::string::npos;
    if (wanted == Wanted::kWhole && !whole) return key + " takes a whole number, not " + value;
    errno = 0;
    if (whole && wanted != Wanted::kReal) {
        const long long integer = std::strtoll(value.c_str(), nullptr, 10);
        if (errno == ERANGE) {
            return "'" + value + "' is beyond the whole numbers a FITS card holds (64 bits)" +
                   (wanted == Wanted::kEither ? "; write it with a decimal point to keep it as a real number" : "");
        }
        card.kind = HeaderCardKind::kInteger;
        card.integer = integer;
        return {};
    }
    const double real = std::strtod(value.c_str(), nullptr);
    if (errno == ERANGE || !std::isfinite(real)) {
        return "'" + value + "' is beyond the numbers a FITS card holds (64-bit floating point: magnitudes from " +
               "about 2.2E-308 to 1.8E+308, or 0)";
    }
    card.kind = HeaderCardKind::kReal;
    card.real = real;
    card.significantDigits = RoundTripDigits(real);
    return {};
}

// A date and time in the form the standard gives, as cfitsio reads it.
bool IsFitsDate(const std::string& value) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, status = 0;
    double second = 0;
    std::string copy = value;
    return fits_str2time(copy.data(), &year, &month, &day, &hour, &minute, &second, &status) == 0;
}

std::string NotPrintable(const std::string& text) {
    return "'" + text + "' holds characters other than printable ASCII, which FITS does not allow";
}

std::string Text(const std::string& value, HeaderCard& card) {
    card.kind = HeaderCardKind::kText;
    card.text = value;
    return FitsTextProblem(value);
}

// Fills `card` for KEY=VALUE; "" when it may be written, else why not.
std::string Classify(const std::string& key, const std::string& value, HeaderCard& card) {
    card.key = key;
    if (key.empty() || key.size() > kMaxKeywordLength || !std::all_of(key.begin(), key.end(), IsKeywordCharacter)) {
        return "'" + key + "' is not a FITS keyword (1 to 8 of A-Z, 0-9, '-' and '_')";
    }
    for (const OwnKeyword& own : kOwnKeywords) {
        if (own.key != key) continue;
        return key + " is written by the tool itself" +
               (own.setBy.empty() ? std::string() : " (set it with " + std::string(own.setBy) + ")");
    }
    if (OneOf(kStructuralKeywords, key) || std::regex_match(key, kStructuralIndexed)) {
        return key + " describes the structure of the FITS file, which the tool writes itself";
    }
    for (const Refusal& refused : kRefusedKeywords) {
        if (refused.key == key) return key + " " + std::string(refused.why);
    }
    if (FitsKeywordMayRepeat(key)) {
        card.kind = key == kHistoryKeyword ? HeaderCardKind::kHistory : HeaderCardKind::kComment;
        card.text = value;
        return IsPrintable(value) ? std::string() : NotPrintable(value);
    }
    if (key.rfind(kDatePrefix, 0) == 0) {
        if (!IsFitsDate(value)) {
            return key + " takes a date such as 2024-05-01 or 2024-05-01T21:30:00.5, not '" + value + "'";
        }
        return Text(value, card);
    }
    if (OneOf(kTextKeywords, key) || std::regex_match(key, kTextIndexed)) return Text(value, card);
    if (OneOf(kIntegerKeywords, key) || std::regex_match(key, kIntegerIndexed)) {
        return ParseNumber(key, value, Wanted::kWhole, card);
    }
    if (OneOf(kRealKeywords, key) || std::regex_match(key, kRealIndexed)) {
        return ParseNumber(key, value, Wanted::kReal, card);
    }
    // Any other keyword: a number when it reads as one, else text.
    if (IsPlainNumber(value)) return ParseNumber(key, value, Wanted::kEither, card);
    return Text(value, card);
}

}  // namespace

std::string FitsTextProblem(const std::string& text) {
    if (!IsPrintable(text)) return NotPrintable(text);
    const auto quotes = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\''));
    const std::size_t written = text.size() + quotes;
    if (written > kMaxFitsTextLength) {
        return "'" + text + "' takes " + std::to_string(written) + " characters on a FITS card" +
               (quotes > 0 ? " (each ' is written twice)" : "") + ", more than the " +
               std::to_string(kMaxFitsTextLength) + " a card holds";
    }
    return {};
}

std::string FitsCardProblem(const std::string& key, const std::string& value) {
    HeaderCard card;
    return Classify(key, value, card);
}

HeaderCard ParseHeaderCard(const std::string& keyValue) {
    const auto equals = keyValue.find('=');
    HeaderCard card;
    Classify(keyValue.substr(0, equals), equals == std::string::npos ? std::string() : keyValue.substr(equals + 1),
             card);
    return card;
}

bool FitsKeywordMayRepeat(const std::string& key) { return key == kCommentKeyword || key == kHistoryKeyword; }

bool IsPlainNumber(const std::string& text) {
    static const std::regex kPlain(R"([+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?)");
    return std::regex_match(text, kPlain);
}

}  // namespace tarnscsi::imaging
