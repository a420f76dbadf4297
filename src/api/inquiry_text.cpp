#include "api/inquiry_text.h"

#include <tarnscsi/manager.h>

#include "camera/commands.h"
#include "common/dynamic_library.h"

namespace tarnscsi {

namespace {

constexpr char kPrintableFirst = ' ';
constexpr char kPrintableLast = '~';

std::string Field(const std::uint8_t* data, std::size_t from, std::size_t to) {
    std::string text;
    for (std::size_t i = from; i < to; ++i) {
        const char c = static_cast<char>(data[i]);
        text += (c >= kPrintableFirst && c <= kPrintableLast) ? c : '?';
    }
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

}  // namespace

InquiryText ReadInquiryText(const std::uint8_t* reply) {
    using namespace tarnscsi::camera;
    return {Field(reply, kInquiryVendorOffset, kInquiryProductOffset),
            Field(reply, kInquiryProductOffset, kInquiryRevisionOffset),
            Field(reply, kInquiryRevisionOffset, kInquiryStandardLength)};
}

std::string LoadedManagerPath() {
#if defined(_WIN32)
    const DynamicLibrary manager("wnaspi32", true);  // the name the module loads it by
#else
    const DynamicLibrary manager(kManagerFile, true);
#endif
    return manager.IsLoaded() ? manager.Path() : std::string();
}

}  // namespace tarnscsi
