#include "sim/camera_inquiry.h"

#include <algorithm>

#include "sim/firmware_rules.h"

namespace tarnscsi::sim {
namespace {

constexpr std::size_t kPeripheralType = 0;
constexpr std::size_t kVersion = 2;
constexpr std::size_t kResponseFormat = 3;
constexpr std::size_t kAdditionalLength = 4;
constexpr std::size_t kVendor = 8;
constexpr std::size_t kProduct = 16;
constexpr std::size_t kRevision = 32;

constexpr std::uint8_t kScsi2 = 2;
constexpr std::uint8_t kPeripheralTypeMask = 0x1F;
constexpr char kPadding = ' ';

constexpr char kVendorId[] = "TARN    ";
constexpr char kProductId[] = "Nebrix CCD      ";
constexpr char kRevisionId[] = "1.00";

static_assert(sizeof kVendorId - 1 == kProduct - kVendor);
static_assert(sizeof kProductId - 1 == kRevision - kProduct);
static_assert(sizeof kRevisionId - 1 == kStandardInquiryLength - kRevision);

void PutText(InquiryData& data, std::size_t offset, std::size_t width, std::string_view text) {
    std::fill_n(data.begin() + static_cast<std::ptrdiff_t>(offset), width, static_cast<std::uint8_t>(kPadding));
    std::copy_n(text.begin(), std::min(width, text.size()), data.begin() + static_cast<std::ptrdiff_t>(offset));
}

}  // namespace

InquiryData StandardInquiry(std::uint8_t deviceType, std::string_view vendor, std::string_view product,
                            std::string_view revision) {
    InquiryData data{};
    data[kPeripheralType] = deviceType & kPeripheralTypeMask;
    data[kVersion] = kScsi2;
    data[kResponseFormat] = kScsi2;
    data[kAdditionalLength] = static_cast<std::uint8_t>(kStandardInquiryLength - kAdditionalLength - 1);
    PutText(data, kVendor, kProduct - kVendor, vendor);
    PutText(data, kProduct, kRevision - kProduct, product);
    PutText(data, kRevision, kStandardInquiryLength - kRevision, revision);
    return data;
}

const InquiryData& CameraInquiryData() {
    static const InquiryData data = StandardInquiry(kCameraDeviceType, kVendorId, kProductId, kRevisionId);
    return data;
}

}  // namespace tarnscsi::sim