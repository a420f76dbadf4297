#include "image_encoding.h"

#include <charconv>
#include <cstring>

namespace tarnscsi::alpaca {
namespace {

void PutLittleEndian32(std::string& out, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < sizeof value; ++i) {
        out[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

std::string Header(std::int32_t error, const Transaction& ids, std::int32_t imageType, std::int32_t transmissionType,
                   std::int32_t rank, std::int32_t dimension1, std::int32_t dimension2) {
    using namespace image_bytes;
    std::string header(kHeaderLength, '\0');
    PutLittleEndian32(header, kMetadataVersionOffset, kMetadataVersion);
    PutLittleEndian32(header, kErrorNumberOffset, static_cast<std::uint32_t>(error));
    PutLittleEndian32(header, kClientTransactionIdOffset, ids.client);
    PutLittleEndian32(header, kServerTransactionIdOffset, ids.server);
    PutLittleEndian32(header, kDataStartOffset, kHeaderLength);
    PutLittleEndian32(header, kImageElementTypeOffset, static_cast<std::uint32_t>(imageType));
    PutLittleEndian32(header, kTransmissionElementTypeOffset, static_cast<std::uint32_t>(transmissionType));
    PutLittleEndian32(header, kRankOffset, static_cast<std::uint32_t>(rank));
    PutLittleEndian32(header, kDimension1Offset, static_cast<std::uint32_t>(dimension1));
    PutLittleEndian32(header, kDimension2Offset, static_cast<std::uint32_t>(dimension2));
    PutLittleEndian32(header, kDimension3Offset, 0);
    return header;
}

}  // namespace

std::string ImageArrayJson(const Image& image, const Transaction& ids) {
    const std::size_t w = static_cast<std::size_t>(image.width);
    const std::size_t h = static_cast<std::size_t>(image.height);
    std::string out;
    out.reserve(128 + w * h * 6 + w * 2);
    out += "{\"Type\":" + std::to_string(kImageArrayInt32) + ",\"Rank\":" + std::to_string(kMonochromeRank) +
           ",\"Value\":[";
    char number[8];
    for (std::size_t x = 0; x < w; ++x) {
        out += x == 0 ? "[" : ",[";
        for (std::size_t y = 0; y < h; ++y) {
            if (y != 0) out += ',';
            const auto [end, error] = std::to_chars(number, number + sizeof number, image.pixels[y * w + x]);
            (void)error;  // five digits always fit
            out.append(number, end);
        }
        out += ']';
    }
    out += "],\"ClientTransactionID\":" + std::to_string(ids.client) +
           ",\"ServerTransactionID\":" + std::to_string(ids.server) + ",\"ErrorNumber\":0,\"ErrorMessage\":\"\"}";
    return out;
}

std::string ImageBytesAnswer(const Image& image, const Transaction& ids) {
    const std::size_t w = static_cast<std::size_t>(image.width);
    const std::size_t h = static_cast<std::size_t>(image.height);
    std::string out =
        Header(kNoError, ids, image_bytes::kInt32, image_bytes::kUInt16, kMonochromeRank, image.width, image.height);
    out.resize(image_bytes::kHeaderLength + w * h * sizeof(std::uint16_t));
    auto* data = reinterpret_cast<unsigned char*>(out.data() + image_bytes::kHeaderLength);
    for (std::size_t x = 0; x < w; ++x) {
        const std::uint16_t* column = image.pixels.data() + x;
        for (std::size_t y = 0; y < h; ++y, data += 2) {
            const std::uint16_t value = column[y * w];
            data[0] = static_cast<unsigned char>(value & 0xFF);  // little-endian
            data[1] = static_cast<unsigned char>(value >> 8);
        }
    }
    return out;
}

std::string ImageBytesError(const Failure& failure, const Transaction& ids) {
    return Header(failure.number, ids, image_bytes::kUnknown, image_bytes::kUnknown, 0, 0, 0) + failure.message;
}

}  // namespace tarnscsi::alpaca
