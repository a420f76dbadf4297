#include "sim/camera_inquiry.h"

#include <cstring>

#include "camera/commands.h"

namespace sim {
namespace {

constexpr std::size_t kPeripheralType = 0;
constexpr std::size_t kVersion = 2;
constexpr std::size_t kResponseFormat = 3;
constexpr std::size_t kAdditionalLength = 4;
constexpr std::size_t kVendor = 8;
constexpr std::size_t kProduct = camera::kInquiryProductOffset;
constexpr std::size_t kRevision = 32;

constexpr std::uint8_t kScsi2 = 2;
constexpr char kVendorId[] = "TARN    ";
constexpr char kProductId[] = "Nebrix CCD      ";
constexpr char kRevisionId[] = "1.00";

static_assert(sizeof kVendorId - 1 == kProduct - kVendor);
static_assert(sizeof kProductId - 1 == kRevision - kProduct);
static_assert(sizeof kRevisionId - 1 == kStandardInquiryLength - kRevision);

InquiryData Build() {
    InquiryData data{};
    data[kPeripheralType] = camera::kScannerDeviceType;
    data[kVersion] = kScsi2;
    data[kResponseFormat] = kScsi2;
    data[kAdditionalLength] = static_cast<std::uint8_t>(kStandardInquiryLength - kAdditionalLength - 1);
    std::memcpy(data.data() + kVendor, kVendorId, sizeof kVendorId - 1);
    std::memcpy(data.data() + kProduct, kProductId, sizeof kProductId - 1);
    std::memcpy(data.data() + kRevision, kRevisionId, sizeof kRevisionId - 1);
    return data;
}

}  // namespace

const InquiryData& CameraInquiryData() {
    static const InquiryData data = Build();
    return data;
}

}  // namespace sim
