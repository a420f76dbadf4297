#include "sg_report.h"

#include <regex>

namespace tarnscsi::tool {

namespace {

// Groups: node, [host:channel:target:lun], adapter/target/lun, state.
const std::regex& DeviceLinePattern() {
    static const std::regex pattern(
        R"(^(/dev/\S+)(?: \[(\d+):(\d+):(\d+):(\d+)\])?(?: adapter (\d+), target (\d+), lun (\d+))?: (.*)$)");
    return pattern;
}

std::optional<int> Field(const std::ssub_match& match) {
    if (!match.matched) return std::nullopt;
    return std::stoi(match.str());
}

}  // namespace

std::optional<SgDeviceLine> ParseSgDeviceLine(const std::string& line) {
    std::smatch m;
    if (!std::regex_match(line, m, DeviceLinePattern())) return std::nullopt;
    SgDeviceLine device;
    device.node = m[1].str();
    device.host = Field(m[2]);
    device.channel = Field(m[3]);
    device.target = Field(m[4]);
    device.lun = Field(m[5]);
    device.aspiAdapter = Field(m[6]);
    device.aspiTarget = Field(m[7]);
    device.aspiLun = Field(m[8]);
    device.state = m[9].str();
    return device;
}

std::vector<SgDeviceLine> SgDeviceLines(const std::vector<std::string>& report) {
    std::vector<SgDeviceLine> lines;
    for (const std::string& line : report) {
        if (auto device = ParseSgDeviceLine(line)) lines.push_back(std::move(*device));
    }
    return lines;
}

}  // namespace tarnscsi::tool
