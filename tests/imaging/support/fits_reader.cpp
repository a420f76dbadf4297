#include "support/fits_reader.h"

#include <fitsio.h>

#include <stdexcept>

namespace tarnscsi::imaging_test {

namespace {

void Check(int status, const std::string& what) {
    if (status == 0) return;
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    throw std::runtime_error(what + ": " + text);
}

std::string Unquote(const std::string& value) {
    if (value.size() < 2 || value.front() != '\'') return value;
    std::string inner = value.substr(1, value.size() - 2);
    while (!inner.empty() && inner.back() == ' ') inner.pop_back();
    std::string text;
    for (std::size_t i = 0; i < inner.size(); ++i) {
        text += inner[i];
        if (inner[i] == '\'' && i + 1 < inner.size() && inner[i + 1] == '\'') ++i;
    }
    return text;
}

}  // namespace

std::optional<std::string> FitsContents::Text(const std::string& name) const {
    const auto it = keywords.find(name);
    if (it == keywords.end()) return std::nullopt;
    return it->second;
}

std::optional<double> FitsContents::Number(const std::string& name) const {
    const auto text = Text(name);
    if (!text) return std::nullopt;
    return std::stod(*text);
}

FitsContents ReadFits(const std::filesystem::path& path) {
    int status = 0;
    fitsfile* file = nullptr;
    fits_open_diskfile(&file, path.string().c_str(), READONLY, &status);
    Check(status, "open " + path.string());
    FitsContents contents;
    int naxis = 0;
    long axes[2] = {0, 0};
    fits_get_img_param(file, 2, &contents.bitpix, &naxis, axes, &status);
    contents.width = axes[0];
    contents.height = axes[1];
    int count = 0;
    fits_get_hdrspace(file, &count, nullptr, &status);
    for (int i = 1; i <= count && status == 0; ++i) {
        char name[FLEN_KEYWORD] = {}, value[FLEN_VALUE] = {}, comment[FLEN_COMMENT] = {};
        fits_read_keyn(file, i, name, value, comment, &status);
        const std::string key = name;
        if (key == "COMMENT" || key == "HISTORY") {
            contents.commentary[key] += comment;
        } else {
            contents.keywords[key] = Unquote(value);
        }
    }
    if (status == 0 && naxis == 2) {
        contents.pixels.resize(static_cast<std::size_t>(axes[0] * axes[1]));
        int anyNull = 0;
        fits_read_img(file, TUSHORT, 1, static_cast<LONGLONG>(contents.pixels.size()), nullptr, contents.pixels.data(),
                      &anyNull, &status);
    }
    int closeStatus = 0;
    fits_close_file(file, &closeStatus);
    Check(status, "read " + path.string());
    return contents;
}

}  // namespace tarnscsi::imaging_test