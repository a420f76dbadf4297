#include "image_encoding.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <utility>
#include <vector>

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

// Every 16-bit value in decimal, made once: writing a pixel is then a copy
// of five bytes, where formatting each would cost several times more.
struct DecimalTable {
    static constexpr std::size_t kMostDigits = 5;
    struct Entry {
        char digits[kMostDigits];
        std::uint8_t length;
    };
    std::vector<Entry> entries;
    DecimalTable() : entries(std::size_t{1} << 16) {
        for (std::size_t value = 0; value < entries.size(); ++value) {
            Entry& entry = entries[value];
            entry.length = static_cast<std::uint8_t>(
                std::to_chars(entry.digits, entry.digits + kMostDigits, value).ptr - entry.digits);
        }
    }
};

const DecimalTable& Decimals() {
    static const DecimalTable table;
    return table;
}

}  // namespace

ImageArrayJsonWriter::ImageArrayJsonWriter(std::shared_ptr<const Image> given, const Transaction& ids)
    : image(std::move(given)),
      head("{\"Type\":" + std::to_string(kImageArrayInt32) + ",\"Rank\":" + std::to_string(kMonochromeRank) +
           ",\"Value\":["),
      tail("],\"ClientTransactionID\":" + std::to_string(ids.client) +
           ",\"ServerTransactionID\":" + std::to_string(ids.server) + ",\"ErrorNumber\":0,\"ErrorMessage\":\"\"}") {
    const std::size_t w = static_cast<std::size_t>(image->width);
    const std::size_t h = static_cast<std::size_t>(image->height);
    const auto& decimals = Decimals().entries;
    std::size_t digits = 0;
    for (const std::uint16_t value : image->columns) digits += decimals[value].length;
    // Two brackets a column, commas between columns and between values.
    const std::size_t commas = (w > 0 ? w - 1 : 0) + w * (h > 0 ? h - 1 : 0);
    length = head.size() + tail.size() + 2 * w + commas + digits;
}

bool ImageArrayJsonWriter::Next(std::string& out) {
    out.clear();
    const std::size_t w = static_cast<std::size_t>(image->width);
    const std::size_t h = static_cast<std::size_t>(image->height);
    if (nextColumn > w) return false;
    // At most five digits and a comma a pixel, brackets and a comma a column.
    constexpr std::size_t kPixelMost = 6;
    constexpr std::size_t kColumnMost = 3;
    const std::size_t first = nextColumn;
    const std::size_t end = std::min(w, first + kColumnsPerPart);
    out.resize((first == 0 ? head.size() : 0) + (end - first) * (h * kPixelMost + kColumnMost) + tail.size());
    char* at = out.data();
    if (first == 0) at = std::copy(head.begin(), head.end(), at);
    const auto& decimals = Decimals().entries;
    const std::uint16_t* pixel = image->columns.data() + first * h;
    for (std::size_t x = first; x < end; ++x) {
        if (x != 0) *at++ = ',';
        *at++ = '[';
        for (std::size_t y = 0; y < h; ++y, ++pixel) {
            const auto& entry = decimals[*pixel];
            // The whole entry is copied (the room is there: a comma follows
            // every value but the column's last, whose bracket then
            // overwrites the spare bytes).
            std::memcpy(at, entry.digits, DecimalTable::kMostDigits);
            at += entry.length;
            *at++ = ',';
        }
        if (h == 0) *at++ = ',';  // no pixels: the bracket takes the place of a comma
        at[-1] = ']';
    }
    nextColumn = end;
    if (end == w) {
        at = std::copy(tail.begin(), tail.end(), at);
        nextColumn = w + 1;  // done after this part
    }
    out.resize(static_cast<std::size_t>(at - out.data()));
    return true;
}

std::string ImageArrayJson(const Image& image, const Transaction& ids) {
    ImageArrayJsonWriter writer(std::shared_ptr<const Image>(&image, [](const Image*) {}), ids);
    std::string whole;
    whole.reserve(writer.Length());
    std::string part;
    while (writer.Next(part)) whole += part;
    return whole;
}

std::string ImageBytesHeader(const Image& image, const Transaction& ids) {
    return Header(kNoError, ids, image_bytes::kInt32, image_bytes::kUInt16, kMonochromeRank, image.width, image.height);
}

const char* ImageBytesData(const Image& image) {
    if constexpr (std::endian::native == std::endian::little) {
        return reinterpret_cast<const char*>(image.columns.data());
    }
    return nullptr;
}

std::string ImageBytesAnswer(const Image& image, const Transaction& ids) {
    std::string out = ImageBytesHeader(image, ids);
    out.reserve(out.size() + image.columns.size() * sizeof(std::uint16_t));
    for (const std::uint16_t value : image.columns) {
        out += static_cast<char>(value & 0xFF);  // little-endian
        out += static_cast<char>(value >> 8);
    }
    return out;
}

std::string ImageBytesError(const Failure& failure, const Transaction& ids) {
    return Header(failure.number, ids, image_bytes::kUnknown, image_bytes::kUnknown, 0, 0, 0) + failure.message;
}

}  // namespace tarnscsi::alpaca
