// The camera page's files (alpaca/page/), built into the program so that
// the page needs nothing but this server.
#pragma once

#include <cstddef>
#include <string_view>

namespace tarnscsi::alpaca {

struct PageAsset {
    const char* path;  // as requested: "/", "/page/page.js"
    const char* type;  // Content-Type
    std::string_view bytes;
};

extern const PageAsset kPageAssets[];
extern const std::size_t kPageAssetCount;

}  // namespace tarnscsi::alpaca
