#include "support/fake_sysfs.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace tarnscsi::sg_test {

namespace fs = std::filesystem;

FakeSysfs::FakeSysfs() {
    std::string pattern = (fs::temp_directory_path() / "tarnscsi_sysfs.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    root = pattern;
}

FakeSysfs::~FakeSysfs() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
}

void FakeSysfs::LoadDriver() { fs::create_directories(root / "class" / "scsi_generic"); }

void FakeSysfs::AddDevice(const std::string& name, const std::string& address, std::optional<int> type) {
    LoadDriver();
    const fs::path device = root / "devices" / "platform" / ("host-" + name) / address;
    fs::create_directories(device / "scsi_generic" / name);
    fs::create_directories(device / "scsi_device" / address);
    if (type) {
        std::ofstream(device / "type") << *type << '\n';
    }
    // As in the kernel: relative links, two of them on the way.
    fs::create_directory_symlink(fs::path("../../..") / address, device / "scsi_generic" / name / "device");
    fs::create_directory_symlink(fs::relative(device / "scsi_generic" / name, root / "class" / "scsi_generic"),
                                 root / "class" / "scsi_generic" / name);
}

void FakeSysfs::RemoveDevice(const std::string& name, const std::string& address) {
    fs::remove(root / "class" / "scsi_generic" / name);
    fs::remove_all(root / "devices" / "platform" / ("host-" + name) / address);
}

}  // namespace tarnscsi::sg_test