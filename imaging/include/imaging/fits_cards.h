// What a user may add to a frame's FITS header, checked before the first
// exposure so that no write can fail on it afterwards: keywords by the
// standard's form; none that describe the file's structure or that the tool
// writes itself; the standard's own keywords only with the type it gives
// them (EQUINOX a number, CTYPE1 text, DATE-BEG a date, ...); numbers that a
// FITS card holds exactly as finite values; text that fits on one card once
// each apostrophe is doubled. COMMENT and HISTORY add commentary cards.
#pragma once

#include <string>

namespace tarnscsi::imaging {

// Most characters of text on one card, counted as written: each ' twice.
inline constexpr std::size_t kMaxFitsTextLength = 68;

enum class HeaderCardKind {
    kText,
    kReal,
    kInteger,
    kComment,  // COMMENT and HISTORY: free text, continued on further cards
    kHistory,
};

// A --key card ready to write.
struct HeaderCard {
    std::string key;
    HeaderCardKind kind = HeaderCardKind::kText;
    std::string text;            // kText, kComment, kHistory
    double real = 0;             // kReal
    long long integer = 0;       // kInteger
    int significantDigits = 15;  // kReal: enough for the value to read back exactly
};

// "" when KEY=VALUE may go into the header; else why not.
std::string FitsCardProblem(const std::string& key, const std::string& value);

// The card for a KEY=VALUE that FitsCardProblem accepted.
HeaderCard ParseHeaderCard(const std::string& keyValue);

// "" when `text` fits on one card as a string value (printable ASCII, at
// most kMaxFitsTextLength characters once each ' is doubled); else why not.
std::string FitsTextProblem(const std::string& text);

// Several cards with the same keyword contradict each other; commentary
// cards may repeat.
bool FitsKeywordMayRepeat(const std::string& key);

// A plain decimal number: digits with an optional sign, point and exponent.
// Not "", "0x10", "inf" or "nan", which a C conversion would take.
bool IsPlainNumber(const std::string& text);

}  // namespace tarnscsi::imaging
