#include "support/fake_sg_system.h"

#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sg/linux_status.h"
#include "aspi.h"

namespace tarnscsi::sg_test {

FakeSgSystem::FakeSgSystem(std::filesystem::path root) : sysfsRoot(std::move(root)) {}

void FakeSgSystem::Attach(const std::string& node, Handler handler, int scsiType) {
    std::lock_guard lock(mutex);
    nodes[node].handler = std::move(handler);
    nodes[node].scsiType = scsiType;
    nodes[node].gone = false;
}

void FakeSgSystem::Detach(const std::string& node) {
    std::lock_guard lock(mutex);
    nodes[node].gone = true;
}

void FakeSgSystem::RefuseOpen(const std::string& node, int error) {
    std::lock_guard lock(mutex);
    nodes[node].openError = error;
}

void FakeSgSystem::SetVersion(const std::string& node, int version) {
    std::lock_guard lock(mutex);
    nodes[node].version = version;
}

std::vector<IoRecord> FakeSgSystem::Records() const {
    std::lock_guard lock(mutex);
    return records;
}

void FakeSgSystem::ClearRecords() {
    std::lock_guard lock(mutex);
    records.clear();
}

int FakeSgSystem::OpenDescriptors() const {
    std::lock_guard lock(mutex);
    return static_cast<int>(open.size());
}

std::vector<int> FakeSgSystem::OpenFlags() const {
    std::lock_guard lock(mutex);
    return openFlags;
}

int FakeSgSystem::Open(const std::string& path, int flags) {
    std::lock_guard lock(mutex);
    const auto node = nodes.find(path);
    if (node == nodes.end() || node->second.gone) {
        return -ENOENT;
    }
    if (node->second.openError != 0) {
        return -node->second.openError;
    }
    openFlags.push_back(flags);
    open[nextDescriptor] = path;
    return nextDescriptor++;
}

int FakeSgSystem::Ioctl(int descriptor, unsigned long request, void* argument) {
    Handler handler;
    std::string path;
    {
        std::lock_guard lock(mutex);
        const auto found = open.find(descriptor);
        if (found == open.end()) {
            return -EBADF;
        }
        path = found->second;
        const Node& node = nodes[path];
        if (node.gone) {
            return -ENODEV;
        }
        switch (request) {
            case SG_GET_VERSION_NUM: *static_cast<int*>(argument) = node.version; return 0;
            case SG_GET_SCSI_ID: {
                auto* id = static_cast<sg_scsi_id*>(argument);
                *id = sg_scsi_id{};
                id->scsi_type = node.scsiType;
                return 0;
            }
            case SG_IO: break;
            default: return -ENOTTY;
        }
        const auto& header = *static_cast<sg_io_hdr_t*>(argument);
        IoRecord record;
        record.node = path;
        record.interfaceId = header.interface_id;
        record.direction = header.dxfer_direction;
        record.cdb.assign(header.cmdp, header.cmdp + header.cmd_len);
        record.dataLength = header.dxfer_len;
        record.hadData = header.dxferp != nullptr;
        record.timeout = header.timeout;
        record.senseCapacity = header.mx_sb_len;
        records.push_back(std::move(record));
        handler = node.handler;
    }
    if (!handler) {
        return -EIO;
    }
    return handler(*static_cast<sg_io_hdr_t*>(argument));
}

void FakeSgSystem::Close(int descriptor) {
    std::lock_guard lock(mutex);
    const auto found = open.find(descriptor);
    if (found != open.end() && nodes[found->second].lockedBy == descriptor) {
        nodes[found->second].lockedBy = -1;
    }
    open.erase(descriptor);
}

void FakeSgSystem::HoldElsewhere(const std::string& node, std::string holder) {
    std::lock_guard lock(mutex);
    nodes[node].elsewhere = std::move(holder);
}

int FakeSgSystem::Flock(int descriptor, int operation) {
    std::lock_guard lock(mutex);
    const auto found = open.find(descriptor);
    if (found == open.end()) {
        return -EBADF;
    }
    Node& node = nodes[found->second];
    if ((operation & LOCK_UN) != 0) {
        if (node.lockedBy == descriptor) {
            node.lockedBy = -1;
        }
        return 0;
    }
    if (!node.elsewhere.empty() || (node.lockedBy >= 0 && node.lockedBy != descriptor)) {
        return -EWOULDBLOCK;
    }
    node.lockedBy = descriptor;
    return 0;
}

std::string FakeSgSystem::LockHolder(const std::string& path) {
    std::lock_guard lock(mutex);
    const auto found = nodes.find(path);
    if (found == nodes.end()) {
        return {};
    }
    if (!found->second.elsewhere.empty()) {
        return found->second.elsewhere;
    }
    return found->second.lockedBy >= 0 ? "this test, descriptor " + std::to_string(found->second.lockedBy) : "";
}

FakeSgSystem::Handler BusHandler(tarnscsi::manager::Backend& bus, std::uint8_t adapter, std::uint8_t target,
                                 std::uint8_t lun) {
    return [&bus, adapter, target, lun](sg_io_hdr_t& header) {
        tarnscsi::manager::ScsiCommand command;
        command.adapter = adapter;
        command.target = target;
        command.lun = lun;
        command.cdb = header.cmdp;
        command.cdbLength = header.cmd_len;
        switch (header.dxfer_direction) {
            case SG_DXFER_FROM_DEV: command.direction = tarnscsi::aspi::SRB_DIR_IN; break;
            case SG_DXFER_TO_DEV: command.direction = tarnscsi::aspi::SRB_DIR_OUT; break;
            default: command.direction = 0;
        }
        command.buffer = static_cast<std::uint8_t*>(header.dxferp);
        command.bufferLength = header.dxfer_len;

        const tarnscsi::manager::ScsiOutcome outcome = bus.Execute(command);
        header.status = outcome.targetStatus;
        header.masked_status = static_cast<unsigned char>(outcome.targetStatus >> 1);
        header.host_status = outcome.hostStatus == tarnscsi::aspi::HASTAT_SEL_TO ? tarnscsi::sg::kDidNoConnect
                             : outcome.hostStatus == tarnscsi::aspi::HASTAT_OK   ? tarnscsi::sg::kDidOk
                                                                                 : tarnscsi::sg::kDidError;
        header.driver_status = tarnscsi::sg::kDriverOk;
        header.sb_len_wr = 0;
        if (outcome.senseLength > 0 && header.sbp != nullptr) {
            header.sb_len_wr = static_cast<unsigned char>(std::min<unsigned>(outcome.senseLength, header.mx_sb_len));
            std::memcpy(header.sbp, outcome.sense.data(), header.sb_len_wr);
            header.driver_status = tarnscsi::sg::kDriverSense;
        }
        header.resid = static_cast<int>(header.dxfer_len - std::min(outcome.transferred, header.dxfer_len));
        const bool clean = header.masked_status == 0 && header.host_status == 0 && header.driver_status == 0;
        header.info = clean ? SG_INFO_OK : SG_INFO_CHECK;
        return 0;
    };
}

}  // namespace tarnscsi::sg_test