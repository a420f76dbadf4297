// A SCSI generic manager in process on the fake kernel: sysfs tree, device
// nodes, bus and the shared request handling, with helpers that send
// request blocks the way an initiator does.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "core/aspi_manager.h"
#include "sg/sg_bus.h"
#include "support/fake_sg_system.h"
#include "support/fake_sysfs.h"
#include "aspi.h"

namespace tarnscsi::sg_test {

class SgBench {
public:
    static constexpr std::chrono::milliseconds kTimeLimit{7000};

    SgBench() = default;
    SgBench(const SgBench&) = delete;
    SgBench& operator=(const SgBench&) = delete;

    // A device in sysfs whose node opens and whose SG_IO requests go to
    // `handler` (none: every request fails with EIO).
    void AddDevice(const std::string& name, const std::string& address, std::optional<int> type,
                   FakeSgSystem::Handler handler = {});

    std::uint32_t SupportWord() { return manager.SupportInfo(); }

    struct DeviceTypeAnswer {
        std::uint8_t status;
        std::uint8_t type;  // SRB_DeviceType after the request (0xEE before)
    };
    DeviceTypeAnswer GetDeviceType(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun = 0);

    // All report lines in one text.
    std::string Report();

    FakeSysfs sysfs;
    FakeSgSystem system{sysfs.Root()};
    tarnscsi::sg::SgBus bus{system, kTimeLimit};
    tarnscsi::manager::AspiManager manager{bus, "TEST SG"};
};

// An execute block for (adapter, target, lun 0) with these command bytes,
// flags and data buffer; SRB_SenseLen 14 and a SenseArea full of 0xEE.
tarnscsi::aspi::SRB_ExecSCSICmd ExecBlock(std::uint8_t adapter, std::uint8_t target,
                                          std::initializer_list<std::uint8_t> cdb, std::uint8_t flags,
                                          std::uint8_t* buffer, std::uint32_t length);

inline constexpr std::uint8_t kUntouched = 0xEE;

}  // namespace tarnscsi::sg_test