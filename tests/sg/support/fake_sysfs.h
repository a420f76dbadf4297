// A sysfs tree in a temporary folder, laid out as the kernel lays out the
// SCSI generic class: /class/scsi_generic/sgN is a link into the device
// folder (named H:C:T:L, holding the "type" file), whose scsi_generic/sgN
// folder has a "device" link back up. Removed with everything in it on
// destruction.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tarnscsi::sg_test {

class FakeSysfs {
public:
    FakeSysfs();
    ~FakeSysfs();
    FakeSysfs(const FakeSysfs&) = delete;
    FakeSysfs& operator=(const FakeSysfs&) = delete;

    const std::filesystem::path& Root() const { return root; }

    // The class folder, empty: the sg driver is loaded.
    void LoadDriver();
    // /class/scsi_generic/<name> for a device named `address` (normally
    // "H:C:T:L"), with a type file when `type` is given.
    void AddDevice(const std::string& name, const std::string& address, std::optional<int> type);
    // The device went away: its class link and folder are gone.
    void RemoveDevice(const std::string& name, const std::string& address);

private:
    std::filesystem::path root;
};

}  // namespace tarnscsi::sg_test