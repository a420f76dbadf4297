// The kernel side of the SCSI generic manager, faked: device nodes that
// exist only in a table, open errors on demand, and SG_IO requests handed
// to a handler instead of a host adapter. Every SG_IO request is recorded as
// it arrived.
#pragma once

#include <scsi/sg.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/backend.h"
#include "sg/sg_system.h"

namespace tarnscsi::sg_test {

struct IoRecord {
    std::string node;
    int interfaceId = 0;
    int direction = 0;  // SG_DXFER_*
    std::vector<std::uint8_t> cdb;
    unsigned dataLength = 0;
    bool hadData = false;  // dxferp was not null
    unsigned timeout = 0;  // ms
    unsigned senseCapacity = 0;
};

class FakeSgSystem final : public tarnscsi::sg::SgSystem {
public:
    // Finishes one SG_IO request: fills the status fields, returns 0 or -errno.
    using Handler = std::function<int(sg_io_hdr_t&)>;

    static constexpr int kCurrentVersion = 30536;

    explicit FakeSgSystem(std::filesystem::path sysfsRoot);

    // A device node ("/dev/sg2") and what its SG_IO requests do. The driver
    // reports `scsiType` to SG_GET_SCSI_ID.
    void Attach(const std::string& node, Handler handler, int scsiType = 0);
    // Opening the node fails with this errno (0: it opens again).
    void RefuseOpen(const std::string& node, int error);
    // The device went away (deleted from the bus, as when it is switched
    // off): as the kernel does, its node no longer opens (ENOENT), while
    // descriptors still open stay open and their SG_IO requests fail with
    // ENODEV. Attach brings a device back under a node name.
    void Detach(const std::string& node);
    void SetVersion(const std::string& node, int version);
    // Another process holds an flock on the node ("" for none), named so.
    void HoldElsewhere(const std::string& node, std::string holder);

    std::vector<IoRecord> Records() const;
    void ClearRecords();
    int OpenDescriptors() const;
    std::vector<int> OpenFlags() const;  // of every successful open, in order

    std::filesystem::path SysfsRoot() const override { return sysfsRoot; }
    int Open(const std::string& path, int flags) override;
    int Ioctl(int descriptor, unsigned long request, void* argument) override;
    void Close(int descriptor) override;
    int Flock(int descriptor, int operation) override;
    std::string LockHolder(const std::string& path) override;

private:
    struct Node {
        Handler handler;
        int scsiType = 0;
        int openError = 0;
        int version = kCurrentVersion;
        bool gone = false;      // Detach
        int lockedBy = -1;      // descriptor of this process holding its flock
        std::string elsewhere;  // another process holding it
    };

    const std::filesystem::path sysfsRoot;
    mutable std::mutex mutex;
    std::map<std::string, Node> nodes;
    std::map<int, std::string> open;  // descriptor -> node
    int nextDescriptor = 100;
    std::vector<IoRecord> records;
    std::vector<int> openFlags;
};

// A handler that runs each request on a device of a simulated bus, at the
// given address, and reports the outcome as the kernel would: SCSI status,
// DID_NO_CONNECT for a selection timeout, sense with DRIVER_SENSE, residue.
FakeSgSystem::Handler BusHandler(tarnscsi::manager::Backend& bus, std::uint8_t adapter, std::uint8_t target,
                                 std::uint8_t lun);

}  // namespace tarnscsi::sg_test