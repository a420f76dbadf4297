// The text fields of a standard INQUIRY reply, and the path and report of
// the manager library in the process: what both the bus scan and a
// connected camera report about themselves.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <tarnscsi/bus.h>

namespace tarnscsi {

struct InquiryText {
    std::string vendor;
    std::string product;
    std::string revision;
};

// The vendor, product and revision of a standard INQUIRY reply (at least
// kInquiryStandardLength bytes): printable ASCII, other bytes as '?',
// trailing padding dropped (spaces, and the NULs some devices pad with).
InquiryText ReadInquiryText(const std::uint8_t* reply);

// The file of the ASPI manager already loaded in this process; "" when
// none is loaded.
std::string LoadedManagerPath();

// The report of the manager loaded in this process (the SCSI generic
// manager's look at the bus, aspi/aspi_sg_report.h), one line each; nothing when
// none is loaded or it has no report to give.
std::optional<std::vector<std::string>> LoadedManagerReport();

// The device nodes the manager loaded in this process names (the SCSI
// generic manager's records, aspi/aspi_sg_report.h); none when none is
// loaded or it names none.
std::vector<ManagerNode> LoadedManagerNodes();

}  // namespace tarnscsi
