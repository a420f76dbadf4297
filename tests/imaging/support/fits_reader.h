// Reads a FITS file back with cfitsio: the primary image as the unsigned
// values it stands for, and every header keyword.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarnscsi::imaging_test {

struct FitsContents {
    int bitpix = 0;
    long width = 0;
    long height = 0;
    std::vector<std::uint16_t> pixels;
    std::map<std::string, std::string> keywords;    // string values without quotes or padding, '' as '
    std::map<std::string, std::string> commentary;  // COMMENT and HISTORY: their cards' texts joined

    std::optional<std::string> Text(const std::string& name) const;
    std::optional<double> Number(const std::string& name) const;
};

// Throws std::runtime_error with cfitsio's status text when the file cannot
// be read.
FitsContents ReadFits(const std::filesystem::path& path);

}  // namespace tarnscsi::imaging_test