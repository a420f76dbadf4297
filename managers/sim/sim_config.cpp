#include "sim/sim_config.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>
#include <limits>
#include <span>

#include "aspi.h"
#include "peripheral_types.h"
#include "sim/cooling_model.h"
#include "sim/firmware_rules.h"
#include "sim/sim_bus.h"
#include "sim/sim_control.h"

namespace tarnscsi::sim {
namespace {

constexpr char kItemSeparator = ',';
constexpr char kKeySeparator = '=';
constexpr char kFieldSeparator = ':';
constexpr std::string_view kBlanks = " \t\r\n";
constexpr std::string_view kHexPrefix = "0x";
constexpr int kHexBase = 16;
constexpr int kDecimalBase = 10;
constexpr std::uint8_t kLargestDeviceType = 0x1F;
constexpr std::size_t kLongestProduct = 16;

// Error text of a value that cannot be taken; the parser adds the item.
using Problem = std::optional<std::string>;

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// The parts between separators, trimmed; with `mostParts` the last part is
// the rest of the text, separators and all.
std::vector<std::string_view> Split(std::string_view text, char separator,
                                    std::size_t mostParts = std::numeric_limits<std::size_t>::max()) {
    std::vector<std::string_view> parts;
    for (;;) {
        const auto at = parts.size() + 1 < mostParts ? text.find(separator) : std::string_view::npos;
        parts.push_back(Trim(text.substr(0, at)));
        if (at == std::string_view::npos) {
            return parts;
        }
        text.remove_prefix(at + 1);
    }
}

// A whole number in decimal, or in hexadecimal after 0x, within low..high.
template <typename T>
std::optional<T> Whole(std::string_view text, T low, T high) {
    int base = kDecimalBase;
    if (text.size() > kHexPrefix.size() &&
        (text.substr(0, kHexPrefix.size()) == kHexPrefix || text.substr(0, kHexPrefix.size()) == "0X")) {
        text.remove_prefix(kHexPrefix.size());
        base = kHexBase;
    }
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

// A finite real number within low..high.
std::optional<double> Real(std::string_view text, double low, double high) {
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value) ||
        value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

// Degrees given as a real number, in tenths (the nearest), within low..high
// tenths.
std::optional<std::int32_t> Tenths(std::string_view text, std::int32_t low, std::int32_t high) {
    constexpr double kTenthsPerDegree = 10.0;
    const auto degrees = Real(text, low / kTenthsPerDegree, high / kTenthsPerDegree);
    if (!degrees) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(std::lround(*degrees * kTenthsPerDegree));
}

struct Named {
    std::string_view name;
    int value;
};

std::optional<int> Lookup(std::string_view text, std::span<const Named> names) {
    for (const Named& named : names) {
        if (text == named.name) {
            return named.value;
        }
    }
    return std::nullopt;
}

constexpr Named kImageNames[] = {
    {"sky", static_cast<int>(ImageKind::kSky)},
    {"dark", static_cast<int>(ImageKind::kDark)},
    {"pattern", static_cast<int>(ImageKind::kPattern)},
};

constexpr Named kCoveredNames[] = {
    {"yes", 1},
    {"no", 0},
};

constexpr Named kOpcodeNames[] = {
    {"any", SIM_ANY_OPCODE},
    {"tur", opcode::kTestUnitReady},
    {"inquiry", opcode::kInquiry},
    {"mode-select", opcode::kModeSelect6},
    {"mode-sense", opcode::kModeSense6},
    {"scan", opcode::kScan},
    {"set-window", opcode::kSetWindow},
    {"get-window", opcode::kGetWindow},
    {"read", opcode::kRead10},
};

constexpr Named kFaultKindNames[] = {
    {"refuse", SIM_FAULT_REFUSE},
    {"check", SIM_FAULT_CHECK_CONDITION},
    {"unit-attention", SIM_FAULT_UNIT_ATTENTION},
    {"short", SIM_FAULT_SHORT_TRANSFER},
    {"timeout", SIM_FAULT_COMMAND_TIMEOUT},
};

std::optional<int> DeviceType(std::string_view text) {
    for (const tarnscsi::PeripheralTypeName& entry : tarnscsi::kPeripheralTypeNames) {
        if (text == entry.name) return entry.type;
    }
    return std::nullopt;
}

std::string DeviceTypeChoices() {
    std::string text;
    for (const tarnscsi::PeripheralTypeName& entry : tarnscsi::kPeripheralTypeNames) {
        text += text.empty() ? "" : ", ";
        text += entry.name;
    }
    return text;
}

std::string Choices(std::span<const Named> names) {
    std::string text;
    for (const Named& named : names) {
        text += text.empty() ? "" : ", ";
        text += named.name;
    }
    return text;
}

// A:T or A:T:L as numbers; the adapter is checked against the bus once all
// items are read.
std::optional<DeviceAddress> Address(const std::vector<std::string_view>& fields) {
    const auto adapter = Whole<int>(fields[0], 0, kMaxAdapters - 1);
    const auto target = Whole<int>(fields[1], 0, std::numeric_limits<std::uint8_t>::max());
    const auto lun =
        fields.size() > 2 ? Whole<int>(fields[2], 0, std::numeric_limits<std::uint8_t>::max()) : std::optional(0);
    if (!adapter || !target || !lun) {
        return std::nullopt;
    }
    return DeviceAddress{*adapter, *target, *lun};
}

// Why the module would never find a device at `address`, if so: it searches
// targets 0-7 at lun 0 of each adapter.
Problem NeverSearched(const DeviceAddress& address) {
    constexpr char kSearched[] = ": the module looks at targets 0-7, lun 0 only";
    if (address.target >= tarnscsi::aspi::kTargetsPerAdapter) {
        return "target " + std::to_string(address.target) + kSearched;
    }
    if (address.lun != 0) {
        return "lun " + std::to_string(address.lun) + kSearched;
    }
    return {};
}

// Stores a parsed value; a value that did not parse leaves the setting as
// an earlier item made it.
template <typename T>
Problem Store(std::optional<T> parsed, std::optional<T>& setting, const char* problem) {
    if (!parsed) {
        return problem;
    }
    setting = parsed;
    return {};
}

Problem ParseSeed(std::string_view value, SimConfig& config) {
    return Store(Whole<std::uint64_t>(value, 0, std::numeric_limits<std::uint64_t>::max()), config.seed,
                 "not a whole number from 0 to 18446744073709551615");
}

Problem ParseTimeScale(std::string_view value, SimConfig& config) {
    constexpr double kSlowest = 1e6;
    return Store(Real(value, 0.0, kSlowest), config.timeScale, "not a number from 0 to 1000000");
}

Problem ParseAmbient(std::string_view value, SimConfig& config) {
    return Store(Tenths(value, kLowestAmbientTenths, kHighestAmbientTenths), config.ambientTenths,
                 "not a temperature from -50 to 60 (degrees C)");
}

Problem ParseCoolerDifference(std::string_view value, SimConfig& config) {
    return Store(Tenths(value, 1, kLargestCoolerDifferenceTenths), config.coolerDifferenceTenths,
                 "not a difference from 0.1 to 100 (degrees C)");
}

Problem ParseCoolerRate(std::string_view value, SimConfig& config) {
    return Store(Tenths(value, 1, kFastestCoolerRateTenths), config.coolerRateTenthsPerSecond,
                 "not a rate from 0.1 to 100 (degrees C per second)");
}

Problem ParseImage(std::string_view value, SimConfig& config) {
    const auto kind = Lookup(value, kImageNames);
    if (!kind) {
        return "not one of " + Choices(kImageNames);
    }
    config.image = static_cast<ImageKind>(*kind);
    return {};
}

Problem ParseCovered(std::string_view value, SimConfig& config) {
    const auto covered = Lookup(value, kCoveredNames);
    if (!covered) {
        return "not one of " + Choices(kCoveredNames);
    }
    config.covered = *covered != 0;
    return {};
}

Problem ParseAdapters(std::string_view value, SimConfig& config) {
    return Store(Whole<int>(value, 0, kMaxAdapters), config.adapters, "not a count from 0 to 255");
}

Problem ParseCamera(std::string_view value, SimConfig& config) {
    const auto fields = Split(value, kFieldSeparator);
    const auto address = fields.size() == 2 || fields.size() == 3 ? Address(fields) : std::nullopt;
    if (!address) {
        return "not ADAPTER:TARGET[:LUN] with adapter 0..254, target 0..7, lun 0";
    }
    if (Problem problem = NeverSearched(*address)) {
        return problem;
    }
    config.cameras.push_back(*address);
    return {};
}

Problem ParseDevice(std::string_view value, SimConfig& config) {
    // The name is the rest of the value, colons and all.
    constexpr std::size_t kMostFields = 4;
    const auto fields = Split(value, kFieldSeparator, kMostFields);
    if (fields.size() < 3) {
        return "not ADAPTER:TARGET:TYPE[:NAME]";
    }
    const std::string product(fields.size() == kMostFields ? fields.back() : std::string_view{});
    const auto address = Address({fields[0], fields[1]});
    if (!address) {
        return "not ADAPTER:TARGET:TYPE[:NAME] with adapter 0..254, target 0..7";
    }
    if (Problem problem = NeverSearched(*address)) {
        return problem;
    }
    auto type = DeviceType(fields[2]);
    if (!type) {
        type = Whole<int>(fields[2], 0, kLargestDeviceType);
    }
    if (!type) {
        return "device type not 0..31 nor one of " + DeviceTypeChoices();
    }
    if (product.size() > kLongestProduct) {
        return "name longer than 16 characters";
    }
    config.devices.push_back({*address, static_cast<std::uint8_t>(*type), product});
    return {};
}

Problem ParseFault(std::string_view value, SimConfig& config) {
    const auto fields = Split(value, kFieldSeparator);
    if (fields.size() != 4) {
        return "not OPCODE:SKIP:COUNT:KIND";
    }
    auto opcode = Lookup(fields[0], kOpcodeNames);
    if (!opcode) {
        opcode = Whole<int>(fields[0], 0, std::numeric_limits<std::uint8_t>::max());
    }
    const auto skip = Whole<std::uint32_t>(fields[1], 0, std::numeric_limits<std::uint32_t>::max());
    const auto count = Whole<std::uint32_t>(fields[2], 0, std::numeric_limits<std::uint32_t>::max());
    const auto kind = Lookup(fields[3], kFaultKindNames);
    if (!opcode) {
        return "opcode not 0..255 nor one of " + Choices(kOpcodeNames);
    }
    if (!skip || !count) {
        return "SKIP and COUNT must be whole numbers";
    }
    if (!kind) {
        return "KIND not one of " + Choices(kFaultKindNames);
    }
    config.faults.push_back({*opcode, *skip, *count, *kind});
    return {};
}

Problem ParseCompletion(std::string_view value, SimConfig& config) {
    const auto fields = Split(value, kFieldSeparator);
    if (fields.size() == 1 && fields[0] == "immediate") {
        config.completion = CompletionSpec{false, 0};
        return {};
    }
    if (fields[0] == "pending" && fields.size() <= 2) {
        const auto delay = fields.size() == 2
                               ? Whole<std::uint32_t>(fields[1], 0, std::numeric_limits<std::uint32_t>::max())
                               : std::optional<std::uint32_t>(0);
        if (delay) {
            config.completion = CompletionSpec{true, *delay};
            return {};
        }
    }
    return "not immediate or pending[:MICROSECONDS]";
}

Problem ParseUnitAttention(std::string_view value, SimConfig& config) {
    constexpr std::uint32_t kMostAttentions = 255;
    return Store(Whole<std::uint32_t>(value, 1, kMostAttentions), config.unitAttentions, "not a count from 1 to 255");
}

struct Key {
    std::string_view name;
    Problem (*parse)(std::string_view value, SimConfig& config);
};

constexpr Key kKeys[] = {
    {"seed", ParseSeed},
    {"time-scale", ParseTimeScale},
    {"ambient", ParseAmbient},
    {"cooler-difference", ParseCoolerDifference},
    {"cooler-rate", ParseCoolerRate},
    {"image", ParseImage},
    {"covered", ParseCovered},
    {"adapters", ParseAdapters},
    {"camera", ParseCamera},
    {"device", ParseDevice},
    {"fault", ParseFault},
    {"completion", ParseCompletion},
    {"unit-attention", ParseUnitAttention},
};

std::string KeyNames() {
    std::string text;
    for (const Key& key : kKeys) {
        text += text.empty() ? "" : ", ";
        text += key.name;
    }
    return text;
}

// Appended piece by piece: "..." + std::string&& trips GCC 12's -Wrestrict at -O2 (a false positive).
std::string Quoted(std::string_view item) {
    std::string text;
    text.reserve(item.size() + 2);
    text += '"';
    text += item;
    text += '"';
    return text;
}

// Drops cameras and devices on adapters the bus will not have.
template <typename T, typename AddressOf>
void KeepOnBus(std::vector<T>& items, int adapters, const char* key, AddressOf addressOf,
               std::vector<std::string>& problems) {
    std::erase_if(items, [&](const T& item) {
        const DeviceAddress& address = addressOf(item);
        if (address.adapter < adapters) {
            return false;
        }
        problems.push_back(std::string(key) + " on adapter " + std::to_string(address.adapter) + ": the bus has " +
                           std::to_string(adapters) + " adapter(s) and the module looks at those only (set adapters=" +
                           std::to_string(address.adapter + 1) + " or more); ignored");
        return true;
    });
}

}  // namespace

ParsedConfig ParseSimConfig(std::string_view text) {
    ParsedConfig parsed;
    for (const std::string_view item : Split(text, kItemSeparator)) {
        if (item.empty()) {
            continue;
        }
        const auto equals = item.find(kKeySeparator);
        if (equals == std::string_view::npos) {
            parsed.problems.push_back(Quoted(item) + ": not key=value; ignored");
            continue;
        }
        const std::string_view name = Trim(item.substr(0, equals));
        const std::string_view value = Trim(item.substr(equals + 1));
        const auto key =
            std::find_if(std::begin(kKeys), std::end(kKeys), [name](const Key& k) { return k.name == name; });
        if (key == std::end(kKeys)) {
            parsed.problems.push_back(Quoted(item) + ": unknown key (known: " + KeyNames() + "); ignored");
            continue;
        }
        if (const Problem problem = key->parse(value, parsed.config)) {
            parsed.problems.push_back(Quoted(item) + ": " + *problem + "; ignored");
        }
    }
    SimConfig& config = parsed.config;
    const int adapters = config.adapters.value_or(kDefaultAdapterCount);
    KeepOnBus(
        config.cameras, adapters, "camera", [](const DeviceAddress& a) -> const DeviceAddress& { return a; },
        parsed.problems);
    KeepOnBus(
        config.devices, adapters, "device", [](const DeviceSpec& d) -> const DeviceAddress& { return d.address; },
        parsed.problems);
    return parsed;
}

}  // namespace tarnscsi::sim