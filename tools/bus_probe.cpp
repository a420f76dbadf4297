#include "bus_probe.h"

#include <dlfcn.h>
#include <link.h>

#include <array>
#include <cstdio>
#include <cstring>

#include "camera/commands.h"
#include "camera/scsi_camera.h"
#include "manager_choice.h"
#include "sg/sg_control.h"
#include "transport/aspi_transport.h"

namespace tarnscsi::tool {

namespace {

constexpr std::uint8_t kDeviceTypeMask = 0x1F;
constexpr std::uint8_t kStandardInquiryLength = 36;
constexpr std::size_t kVendorOffset = 8;
constexpr std::size_t kProductOffset = 16;
constexpr std::size_t kRevisionOffset = 32;
constexpr std::uint8_t kInquiryCdbLength = 6;
constexpr std::size_t kInquiryAllocationOffset = 4;
constexpr char kPrintableFirst = ' ';
constexpr char kPrintableLast = '~';

constexpr std::array<const char*, 0x13> kTypeNames = {
    "disk",      "tape",          "printer",         "processor",  "write-once", "cd/dvd",   "scanner",
    "optical",   "changer",       "communications",  "type 0x0a",  "type 0x0b",  "raid",     "enclosure",
    "rbc disk",  "card reader",   "bridge",          "osd",        "automation"};

// An INQUIRY text field: printable ASCII, trailing spaces dropped.
std::string Field(const std::uint8_t* data, std::size_t from, std::size_t to) {
    std::string text;
    for (std::size_t i = from; i < to; ++i) {
        const char c = static_cast<char>(data[i]);
        text += (c >= kPrintableFirst && c <= kPrintableLast) ? c : '?';
    }
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

std::string Hex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

void Identify(const AspiTransport& transport, ProbedDevice& device) {
    std::array<std::uint8_t, kStandardInquiryLength> data{};
    aspi::SRB_ExecSCSICmd block{};
    block.SRB_HaId = static_cast<aspi::BYTE>(device.adapter);
    block.SRB_Target = static_cast<aspi::BYTE>(device.target);
    block.SRB_Flags = aspi::SRB_DIR_IN;
    block.SRB_BufLen = static_cast<aspi::DWORD>(data.size());
    block.SRB_BufPointer = data.data();
    block.SRB_CDBLen = kInquiryCdbLength;
    block.CDBByte[0] = camera::opcode::kInquiry;
    block.CDBByte[kInquiryAllocationOffset] = kStandardInquiryLength;
    if (!transport.Execute(block)) {
        device.inquiryError = "INQUIRY failed: status " + Hex(block.SRB_Status) + ", host status " +
                              Hex(block.SRB_HaStat) + ", target status " + Hex(block.SRB_TargStat);
        return;
    }
    device.identified = true;
    device.vendor = Field(data.data(), kVendorOffset, kProductOffset);
    device.product = Field(data.data(), kProductOffset, kRevisionOffset);
    device.revision = Field(data.data(), kRevisionOffset, kStandardInquiryLength);
    // The module's own rule: a scanner whose product starts with the name.
    device.camera = device.type == camera::kScannerDeviceType &&
                    std::strncmp(reinterpret_cast<const char*>(data.data() + camera::kInquiryProductOffset),
                                 camera::kProductName, camera::kProductMatchLength) == 0;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return lines;
}

// The manager's path and report, from the library the transport loaded.
void DescribeManager(BusProbe& probe) {
    void* const manager = dlopen(manager_choice::kManagerFile, RTLD_NOW | RTLD_NOLOAD);
    if (manager == nullptr) return;
    link_map* map = nullptr;
    if (dlinfo(manager, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr) {
        probe.managerPath = map->l_name;
    }
    void* const entry = dlsym(manager, SG_DIAGNOSTICS_ENTRY);
    if (entry != nullptr) {
        SgDiagnosticsFn diagnostics = nullptr;
        static_assert(sizeof diagnostics == sizeof entry);
        std::memcpy(&diagnostics, &entry, sizeof diagnostics);
        std::string text(diagnostics(nullptr, 0), '\0');
        text.resize(diagnostics(text.data(), static_cast<std::uint32_t>(text.size() + 1)));
        probe.report = Lines(text);
    }
    dlclose(manager);
}

}  // namespace

std::string DeviceTypeName(std::uint8_t type) {
    return type < kTypeNames.size() ? kTypeNames[type] : "type " + Hex(type);
}

BusProbe ProbeBus() {
    BusProbe probe;
    const AspiTransport transport;
    if (!transport.IsValid()) {
        probe.error = transport.ErrorText();
        // The loader's own words say which file it looked for and why it failed.
        if (void* again = dlopen(manager_choice::kManagerFile, RTLD_NOW)) {
            dlclose(again);
        } else if (const char* why = dlerror()) {
            probe.error += std::string(" (") + why + ")";
        }
        return probe;
    }
    probe.loaded = true;
    const aspi::DWORD word = transport.GetSupportInfo();
    probe.supportStatus = aspi::SupportStatus(word);
    if (probe.supportStatus == aspi::SS_COMP) probe.adapters = aspi::SupportAdapterCount(word);

    for (int adapter = 0; adapter < probe.adapters; ++adapter) {
        for (int target = 0; target < ScsiCamera::kTargetsPerAdapter; ++target) {
            aspi::SRB_GDEVBlock query{};
            query.SRB_Cmd = aspi::SC_GET_DEV_TYPE;
            query.SRB_HaId = static_cast<aspi::BYTE>(adapter);
            query.SRB_Target = static_cast<aspi::BYTE>(target);
            if (transport.SendRequest(&query) != aspi::SS_COMP) continue;
            ProbedDevice device;
            device.adapter = adapter;
            device.target = target;
            device.type = query.SRB_DeviceType & kDeviceTypeMask;
            Identify(transport, device);
            probe.devices.push_back(std::move(device));
        }
    }
    // Last, so that the report also tells of commands that failed above.
    DescribeManager(probe);
    return probe;
}

}  // namespace tarnscsi::tool
