// Reads a FITS file held in memory (an image as INDI sends it) with
// cfitsio: the primary image's shape and the header's keywords.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnscsi::indi_test {

class FitsImage {
public:
    // Parses `bytes`; on failure returns nothing and says why in `error`.
    static std::optional<FitsImage> Parse(const std::vector<std::uint8_t>& bytes, std::string& error);

    int bitsPerPixel = 0;               // BITPIX
    long width = 0;                     // NAXIS1
    long height = 0;                    // NAXIS2
    long long dataStart = 0;            // byte offset of the pixels in the file
    std::vector<std::uint16_t> pixels;  // row by row, as unsigned 16-bit values

    std::optional<double> Number(const std::string& keyword) const;
    std::optional<std::string> Text(const std::string& keyword) const;

private:
    struct Card {
        std::string keyword;
        std::optional<double> number;
        std::optional<std::string> text;
    };
    std::vector<Card> cards;
};

}  // namespace tarnscsi::indi_test