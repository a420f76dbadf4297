// The text fields of a standard INQUIRY reply, and the path of the manager
// library in the process: what both the bus scan and a connected camera
// report about themselves.
#pragma once

#include <cstdint>
#include <string>

namespace tarnscsi {

struct InquiryText {
    std::string vendor;
    std::string product;
    std::string revision;
};

// The vendor, product and revision of a standard INQUIRY reply (at least
// kInquiryStandardLength bytes): printable ASCII, other bytes as '?',
// trailing spaces dropped.
InquiryText ReadInquiryText(const std::uint8_t* reply);

// The file of the ASPI manager already loaded in this process; "" when
// none is loaded.
std::string LoadedManagerPath();

}  // namespace tarnscsi
