// One Alpaca answer in JSON: the member's value (or none, for a PUT), the
// client's transaction ID echoed, the server's own, and the error number and
// message.
#pragma once

#include <atomic>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "alpaca_errors.h"
#include "image_encoding.h"

namespace tarnscsi::alpaca {

struct Reply {
    std::optional<nlohmann::json> value;
    Failure failure;

    static Reply Of(nlohmann::json v) { return {std::move(v), {}}; }
    static Reply Done() { return {}; }
    static Reply Error(Failure f) { return {std::nullopt, std::move(f)}; }
};

// Server transaction IDs: 1, 2, 3, ... for the life of the server, shared
// by every client.
class TransactionCounter {
public:
    std::uint32_t Next() { return ++last; }

private:
    std::atomic<std::uint32_t> last{0};
};

inline std::string ReplyJson(const Reply& reply, const Transaction& ids) {
    nlohmann::json out;
    if (reply.value && !reply.failure) out["Value"] = *reply.value;
    out["ClientTransactionID"] = ids.client;
    out["ServerTransactionID"] = ids.server;
    out["ErrorNumber"] = reply.failure.number;
    out["ErrorMessage"] = reply.failure.message;
    // A text that is not UTF-8 shows U+FFFD where it breaks, never ends the answer.
    return out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace tarnscsi::alpaca
