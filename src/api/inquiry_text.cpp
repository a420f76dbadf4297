#include "api/inquiry_text.h"

#include <algorithm>
#include <cstring>

#include <tarnscsi/manager.h>

#include "camera_identity.h"
#include "common/dynamic_library.h"
#if defined(_WIN32)
#include "aspi.h"
#else
#include "aspi_sg_report.h"
#endif

namespace tarnscsi {

namespace {

constexpr char kPrintableFirst = ' ';
constexpr char kPrintableLast = '~';

std::string Field(const std::uint8_t* data, std::size_t from, std::size_t to) {
    while (to > from && (data[to - 1] == ' ' || data[to - 1] == '\0')) --to;
    std::string text;
    for (std::size_t i = from; i < to; ++i) {
        const char c = static_cast<char>(data[i]);
        text += (c >= kPrintableFirst && c <= kPrintableLast) ? c : '?';
    }
    return text;
}

#if !defined(_WIN32)
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

ManagerNode ReadRecord(const SgDeviceRecord& record) {
    ManagerNode node;
    // The manager ends every text; a record cut short still stays in bounds.
    node.node.assign(record.node, strnlen(record.node, sizeof record.node));
    if (record.hasLinuxAddress != 0) {
        node.host = record.host;
        node.channel = record.channel;
        node.scsiTarget = record.target;
        node.lun = record.lun;
    }
    if (record.placed != 0) {
        node.adapter = record.adapter;
        node.target = record.aspiTarget;
        node.aspiLun = record.aspiLun;
    }
    if (record.hasType != 0) node.type = record.type;
    node.usable = record.usable != 0;
    node.reason.assign(record.reason, strnlen(record.reason, sizeof record.reason));
    node.lastError.assign(record.lastError, strnlen(record.lastError, sizeof record.lastError));
    return node;
}
#endif

}  // namespace

InquiryText ReadInquiryText(const std::uint8_t* reply) {
    using namespace tarnscsi::camera;
    return {Field(reply, kInquiryVendorOffset, kInquiryProductOffset),
            Field(reply, kInquiryProductOffset, kInquiryRevisionOffset),
            Field(reply, kInquiryRevisionOffset, kInquiryStandardLength)};
}

std::string LoadedManagerPath() {
    const DynamicLibrary manager(kManagerFile, true);  // the name the module loads it by
    return manager.IsLoaded() ? manager.Path() : std::string();
}

std::optional<std::vector<std::string>> LoadedManagerReport() {
#if defined(_WIN32)
    return std::nullopt;
#else
    const DynamicLibrary manager(kManagerFile, true);
    if (!manager.IsLoaded()) return std::nullopt;
    auto diagnostics = manager.Symbol<SgDiagnosticsFn>(SG_DIAGNOSTICS_ENTRY);
    if (!diagnostics) return std::nullopt;
    std::string text(diagnostics(nullptr, 0), '\0');
    text.resize(diagnostics(text.data(), static_cast<std::uint32_t>(text.size() + 1)));
    return Lines(text);
#endif
}

std::vector<ManagerNode> LoadedManagerNodes() {
#if defined(_WIN32)
    return {};
#else
    const DynamicLibrary manager(kManagerFile, true);
    if (!manager.IsLoaded()) return {};
    auto records = manager.Symbol<SgDeviceRecordsFn>(SG_DEVICE_RECORDS_ENTRY);
    if (!records) return {};
    std::vector<SgDeviceRecord> found(records(nullptr, 0));
    // A look at the bus in between may have found fewer devices.
    found.resize(std::min<std::size_t>(found.size(), records(found.data(), static_cast<std::uint32_t>(found.size()))));
    std::vector<ManagerNode> nodes;
    nodes.reserve(found.size());
    for (const SgDeviceRecord& record : found) nodes.push_back(ReadRecord(record));
    return nodes;
#endif
}

}  // namespace tarnscsi
