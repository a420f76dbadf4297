#include "camera/scsi_camera.h"

#include <cstring>

using namespace camera;

ScsiCamera::ScsiCamera() { FindCamera(); }

ScsiCamera::~ScsiCamera() = default;

bool ScsiCamera::IsValid() const { return AspiTransport::IsValid() && found; }

const char* ScsiCamera::ErrorText() const {
    if (!AspiTransport::IsValid()) return AspiTransport::ErrorText();
    return found ? "" : "Camera not found";
}

void ScsiCamera::FindCamera() {
    const aspi::DWORD info = GetSupportInfo();
    if (aspi::SupportStatus(info) != aspi::SS_COMP) return;
    adapterCount = aspi::SupportAdapterCount(info);

    // Adapters outside, targets inside, both ascending: the first match in
    // (adapter, target) order is the camera. Logical unit is always 0.
    for (std::uint32_t adapter = 0; adapter < adapterCount && !found; ++adapter) {
        for (std::uint8_t target = 0; target < kTargetsPerAdapter && !found; ++target) {
            aspi::SRB_GDEVBlock query{};
            query.SRB_Cmd = aspi::SC_GET_DEV_TYPE;
            query.SRB_HaId = static_cast<std::uint8_t>(adapter);
            query.SRB_Target = target;
            // The block starts zeroed, so a target that does not answer
            // leaves device type 0, never a stale 6 from an earlier one.
            SendRequest(&query);
            if (query.SRB_DeviceType != kScannerDeviceType) continue;
            if (Identify(static_cast<std::uint8_t>(adapter), target)) {
                found = true;
                adapterId = adapter;
                targetId = target;
            }
        }
    }
}

bool ScsiCamera::Identify(std::uint8_t adapter, std::uint8_t target) {
    // Cleared first so that a short answer is compared against zeros, not
    // against what an earlier target left.
    std::memset(dataBuffer, 0, kDataBufferSize);
    if (!Run(kIdentify, dataBuffer, kIdentify.dataLength, adapter, target)) return false;
    return std::strncmp(reinterpret_cast<const char*>(dataBuffer + kInquiryProductOffset), kProductName,
                        kProductMatchLength) == 0;
}

bool ScsiCamera::Run(const CommandSpec& command, std::uint8_t* data, std::uint32_t length,
                     std::uint8_t adapter, std::uint8_t target) {
    aspi::SRB_ExecSCSICmd block{};
    block.SRB_HaId = adapter;
    block.SRB_Target = target;
    block.SRB_Flags = command.direction;
    block.SRB_BufLen = length;
    block.SRB_BufPointer = data;
    block.SRB_CDBLen = command.cdbLength;
    std::memcpy(block.CDBByte, command.cdb.data(), command.cdbLength);
    return Execute(block);
}

bool ScsiCamera::Run(const CommandSpec& command, std::uint8_t* data, std::uint32_t length) {
    return Run(command, data, length, static_cast<std::uint8_t>(adapterId),
               static_cast<std::uint8_t>(targetId));
}
