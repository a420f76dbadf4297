#include "sg/bus_layout.h"

#include <algorithm>
#include <limits>
#include <map>
#include <tuple>

namespace tarnscsi::sg {
namespace {

constexpr std::uint32_t kLargestByte = std::numeric_limits<std::uint8_t>::max();

}  // namespace

BusLayout LayOut(const std::vector<SgEntry>& entries) {
    BusLayout layout;
    for (const SgEntry& entry : entries) {
        if (entry.address) {
            layout.adapters.emplace_back(entry.address->host, entry.address->channel);
        }
    }
    std::sort(layout.adapters.begin(), layout.adapters.end());
    layout.adapters.erase(std::unique(layout.adapters.begin(), layout.adapters.end()), layout.adapters.end());

    std::map<std::tuple<std::uint8_t, std::uint8_t, std::uint8_t>, std::string> taken;  // -> node name
    for (const SgEntry& entry : entries) {
        std::optional<AspiAddress> placement;
        std::string problem = entry.problem;
        if (entry.address) {
            const auto pair = std::make_pair(entry.address->host, entry.address->channel);
            const auto adapter = static_cast<std::size_t>(
                std::lower_bound(layout.adapters.begin(), layout.adapters.end(), pair) - layout.adapters.begin());
            if (adapter >= kMaxAspiAdapters) {
                problem = "beyond the first " + std::to_string(kMaxAspiAdapters) + " host adapters";
            } else if (entry.address->target > kLargestByte) {
                problem = "target " + std::to_string(entry.address->target) + " is beyond what ASPI can address";
            } else if (entry.address->lun > kLargestByte) {
                problem = "logical unit " + std::to_string(entry.address->lun) + " is beyond what ASPI can address";
            } else {
                const AspiAddress place{static_cast<std::uint8_t>(adapter),
                                        static_cast<std::uint8_t>(entry.address->target),
                                        static_cast<std::uint8_t>(entry.address->lun)};
                const auto [where, fresh] =
                    taken.emplace(std::make_tuple(place.adapter, place.target, place.lun), entry.name);
                if (fresh) {
                    placement = place;
                } else {
                    problem = "same SCSI address as " + where->second;
                }
            }
        }
        layout.placements.push_back(placement);
        layout.problems.push_back(placement ? std::string() : problem);
    }
    if (layout.adapters.size() > kMaxAspiAdapters) {
        layout.adapters.resize(kMaxAspiAdapters);
    }
    return layout;
}

}  // namespace tarnscsi::sg