// The last image as Alpaca clients take it: the JSON ImageArray answer and
// the binary ImageBytes answer. Both give the pixel at column x, row y as
// element [x][y]: the first index is X, and Y changes fastest.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "camera_device.h"

namespace tarnscsi::alpaca {

// The ImageBytes header: little-endian 32-bit fields at these offsets.
namespace image_bytes {
inline constexpr std::size_t kMetadataVersionOffset = 0;
inline constexpr std::size_t kErrorNumberOffset = 4;
inline constexpr std::size_t kClientTransactionIdOffset = 8;
inline constexpr std::size_t kServerTransactionIdOffset = 12;
inline constexpr std::size_t kDataStartOffset = 16;
inline constexpr std::size_t kImageElementTypeOffset = 20;
inline constexpr std::size_t kTransmissionElementTypeOffset = 24;
inline constexpr std::size_t kRankOffset = 28;
inline constexpr std::size_t kDimension1Offset = 32;
inline constexpr std::size_t kDimension2Offset = 36;
inline constexpr std::size_t kDimension3Offset = 40;
inline constexpr std::size_t kHeaderLength = 44;
inline constexpr std::int32_t kMetadataVersion = 1;
// Element type codes.
inline constexpr std::int32_t kUnknown = 0;
inline constexpr std::int32_t kInt32 = 2;
inline constexpr std::int32_t kUInt16 = 8;
inline constexpr char kMediaType[] = "application/imagebytes";
}  // namespace image_bytes

// The ImageArray value type code for 32-bit integers, and the rank of a
// monochrome image.
inline constexpr int kImageArrayInt32 = 2;
inline constexpr int kMonochromeRank = 2;

struct Transaction {
    std::uint32_t client = 0;
    std::uint32_t server = 0;
};

// The JSON answer with the image as Value, made a few columns at a time so
// that sending begins before the whole text is made; its length is known
// beforehand.
class ImageArrayJsonWriter {
public:
    ImageArrayJsonWriter(std::shared_ptr<const Image> image, const Transaction& ids);
    std::size_t Length() const { return length; }
    // The next part into `out`; false when the whole answer has been given.
    bool Next(std::string& out);

private:
    static constexpr std::size_t kColumnsPerPart = 32;
    std::shared_ptr<const Image> image;
    std::string head;
    std::string tail;
    std::size_t length = 0;
    std::size_t nextColumn = 0;
};

// The whole JSON answer at once.
std::string ImageArrayJson(const Image& image, const Transaction& ids);
// The ImageBytes answer: the header, then the image as little-endian 16-bit
// elements (the client makes them 32-bit integers). ImageBytesData is the
// image part when the machine's own numbers are those bytes (a
// little-endian machine), so that it can be sent without a copy; else null.
std::string ImageBytesHeader(const Image& image, const Transaction& ids);
const char* ImageBytesData(const Image& image);
std::string ImageBytesAnswer(const Image& image, const Transaction& ids);
// The error's answer: the header, then the message as UTF-8 text.
std::string ImageBytesError(const Failure& failure, const Transaction& ids);

}  // namespace tarnscsi::alpaca
