#include "support/bus_log.h"

#include <algorithm>

namespace tarnscsi::testing_support {

std::vector<SimRequest> AllRequests() {
    std::vector<SimRequest> requests(SimLogCount());
    for (std::uint32_t i = 0; i < requests.size(); ++i) SimLogGet(i, &requests[i]);
    return requests;
}

std::vector<SimRequest> ExecRequests(int opcode) {
    std::vector<SimRequest> found;
    for (const SimRequest& request : AllRequests()) {
        if (request.command != 2) continue;  // SC_EXEC_SCSI_CMD
        if (opcode != SIM_ANY_OPCODE && request.cdb[0] != opcode) continue;
        found.push_back(request);
    }
    return found;
}

std::vector<SimRequest> DeviceTypeRequests() {
    std::vector<SimRequest> found;
    for (const SimRequest& request : AllRequests())
        if (request.command == 1) found.push_back(request);  // SC_GET_DEV_TYPE
    return found;
}

std::vector<std::uint8_t> Cdb(const SimRequest& request) {
    return {request.cdb, request.cdb + std::min<std::uint32_t>(request.cdbLength, 16)};
}

std::vector<std::uint8_t> DataOut(const SimRequest& request) {
    return {request.dataOut, request.dataOut + request.dataOutLength};
}

std::vector<std::uint8_t> InquiryData(std::uint8_t type, const std::string& product) {
    std::vector<std::uint8_t> data(36, ' ');
    data[0] = type;
    data[1] = data[2] = data[3] = 0;
    data[4] = 31;
    data[5] = data[6] = data[7] = 0;
    std::copy_n("OTHER   ", 8, data.begin() + 8);
    std::copy_n(product.begin(), std::min<std::size_t>(product.size(), 16), data.begin() + 16);
    return data;
}

}  // namespace tarnscsi::testing_support