// The SCSI generic manager's report lines about its devices, read into
// fields: "/dev/sg3 [2:0:4:0] adapter 0, target 4, lun 0: usable". Other
// managers' lines, and the SG manager's notes, are not device lines.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarnscsi::tool {

struct SgDeviceLine {
    std::string node;                                     // "/dev/sg3"
    std::optional<int> host, channel, target, lun;        // Linux address
    std::optional<int> aspiAdapter, aspiTarget, aspiLun;  // where ASPI sees it
    std::string state;                                    // "usable" or the problem
};

std::optional<SgDeviceLine> ParseSgDeviceLine(const std::string& line);

std::vector<SgDeviceLine> SgDeviceLines(const std::vector<std::string>& report);

}  // namespace tarnscsi::tool
