// Reading the simulated manager's request log in tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim_control.h"

namespace tarnscsi::testing_support {

// Every request logged since the last SimLogClear.
std::vector<SimRequest> AllRequests();
// Execute-command requests only, optionally only those with this opcode.
std::vector<SimRequest> ExecRequests(int opcode = SIM_ANY_OPCODE);
// Get-device-type requests only.
std::vector<SimRequest> DeviceTypeRequests();

// The command bytes of a request, as many as its CDB length says.
std::vector<std::uint8_t> Cdb(const SimRequest& request);
// The data the module sent with a data-out request.
std::vector<std::uint8_t> DataOut(const SimRequest& request);

// A standard INQUIRY answer for a device of `type` with this product field.
std::vector<std::uint8_t> InquiryData(std::uint8_t type, const std::string& product);

}  // namespace tarnscsi::testing_support