#include "sg/diagnostics.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace tarnscsi::sg {

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += '\n';
    }
    return text;
}

std::uint32_t CopyOut(const std::string& text, char* out, std::uint32_t capacity) {
    if (out != nullptr && capacity > 0) {
        const std::size_t length = std::min<std::size_t>(text.size(), capacity - 1);
        std::memcpy(out, text.data(), length);
        out[length] = '\0';
    }
    return static_cast<std::uint32_t>(std::min<std::size_t>(text.size(), std::numeric_limits<std::uint32_t>::max()));
}

template <std::size_t N>
void CopyField(const std::string& text, char (&field)[N]) {
    CopyOut(text, field, static_cast<std::uint32_t>(N));
}

SgDeviceRecord ToRecord(const SgDeviceState& device) {
    SgDeviceRecord record{};
    CopyField(device.node, record.node);
    if (device.linuxAddress) {
        record.hasLinuxAddress = 1;
        record.host = device.linuxAddress->host;
        record.channel = device.linuxAddress->channel;
        record.target = device.linuxAddress->target;
        record.lun = device.linuxAddress->lun;
    }
    if (device.place) {
        record.placed = 1;
        record.adapter = device.place->adapter;
        record.aspiTarget = device.place->target;
        record.aspiLun = device.place->lun;
    }
    if (device.type) {
        record.hasType = 1;
        record.type = *device.type;
    }
    record.usable = device.usable ? 1 : 0;
    CopyField(device.problem, record.reason);
    CopyField(device.lastError, record.lastError);
    return record;
}

std::uint32_t CopyRecords(const std::vector<SgDeviceState>& devices, SgDeviceRecord* out, std::uint32_t capacity) {
    const std::size_t count = std::min<std::size_t>(devices.size(), std::numeric_limits<std::uint32_t>::max());
    if (out != nullptr) {
        for (std::size_t i = 0; i < std::min<std::size_t>(count, capacity); ++i) {
            out[i] = ToRecord(devices[i]);
        }
    }
    return static_cast<std::uint32_t>(count);
}

}  // namespace tarnscsi::sg
