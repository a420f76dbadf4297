#include "request_parameters.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "http_message.h"

namespace tarnscsi::alpaca {
namespace {

constexpr char kClientId[] = "ClientID";
constexpr char kClientTransactionId[] = "ClientTransactionID";

bool SameName(const std::string& a, const std::string& b, bool exact) {
    return exact ? a == b : SameIgnoringCase(a, b);
}

std::optional<std::uint64_t> WholeNumber(const std::string& text) {
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
    return value;
}

// Whether `text` is UTF-8 as JSON carries it (the answers echo some texts).
bool IsUtf8(const std::string& text) {
    try {
        static_cast<void>(nlohmann::json(text).dump());
        return true;
    } catch (const nlohmann::json::type_error&) {
        return false;
    }
}

}  // namespace

RequestParameters RequestParameters::FromQuery(std::multimap<std::string, std::string> pairs) {
    RequestParameters parameters;
    parameters.pairs = std::move(pairs);
    parameters.ReadIds();
    return parameters;
}

RequestParameters RequestParameters::FromForm(const std::string& body) {
    RequestParameters parameters;
    parameters.pairs = FormPairs(body);
    parameters.exactNames = true;
    parameters.ReadIds();
    return parameters;
}

std::optional<std::string> RequestParameters::Find(const std::string& name) const {
    for (const auto& [key, value] : pairs) {
        if (SameName(key, name, exactNames)) return value;
    }
    return std::nullopt;
}

void RequestParameters::ReadIds() {
    const auto read = [this](const char* name, std::uint32_t& out) {
        const auto text = Find(name);
        if (!text) return;
        const auto value = WholeNumber(*text);
        if (!value || *value > std::numeric_limits<std::uint32_t>::max()) {
            idProblem = BadRequest{std::string(name) + " '" + *text + "' is not a whole number from 0 to 4294967295"};
            return;
        }
        out = static_cast<std::uint32_t>(*value);
    };
    read(kClientId, clientId);
    read(kClientTransactionId, clientTransactionId);
}

std::string RequestParameters::Text(const std::string& name) const {
    auto value = Find(name);
    if (!value) throw BadRequest{"the parameter " + name + " is missing (names in a PUT body are case-sensitive)"};
    if (!IsUtf8(*value)) throw BadRequest{"the parameter " + name + " is not UTF-8 text"};
    return *value;
}

bool RequestParameters::Bool(const std::string& name) const {
    const std::string text = Text(name);
    if (SameIgnoringCase(text, "true")) return true;
    if (SameIgnoringCase(text, "false")) return false;
    throw BadRequest{"the parameter " + name + " '" + text + "' is neither True nor False"};
}

std::int64_t RequestParameters::Integer(const std::string& name) const {
    const std::string text = Text(name);
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) {
        throw BadRequest{"the parameter " + name + " '" + text + "' is not a whole number"};
    }
    return value;
}

double RequestParameters::Number(const std::string& name) const {
    const std::string text = Text(name);
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || !std::isfinite(value)) {
        throw BadRequest{"the parameter " + name + " '" + text + "' is not a number"};
    }
    return value;
}

}  // namespace tarnscsi::alpaca
