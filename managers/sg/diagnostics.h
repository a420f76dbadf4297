// The report of SgDiagnostics as one text, the records of SgDeviceRecords,
// and their copies into a caller's buffers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "aspi_sg_report.h"
#include "sg/sg_bus.h"

namespace tarnscsi::sg {

std::string JoinLines(const std::vector<std::string>& lines);

// Copies at most capacity - 1 bytes and a NUL; returns the text's length.
std::uint32_t CopyOut(const std::string& text, char* out, std::uint32_t capacity);

// A device as the record SgDeviceRecords hands out; texts cut to fit.
SgDeviceRecord ToRecord(const SgDeviceState& device);

// Copies at most capacity records; returns how many there are.
std::uint32_t CopyRecords(const std::vector<SgDeviceState>& devices, SgDeviceRecord* out, std::uint32_t capacity);

}  // namespace tarnscsi::sg
