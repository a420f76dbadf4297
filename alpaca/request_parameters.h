// The parameters of one Alpaca request. A GET carries them in the query
// string, where names are matched whatever their case; a PUT carries them in
// a form-urlencoded body, where a name counts only when spelt exactly as the
// API reference spells it (a wrongly cased ClientTransactionID is ignored,
// a wrongly cased member parameter is missing).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace tarnscsi::alpaca {

// Why a request is malformed: the text of the HTTP 400 answer.
struct BadRequest {
    std::string message;
};

class RequestParameters {
public:
    // The decoded query pairs of a GET; the raw body of a PUT.
    static RequestParameters FromQuery(std::multimap<std::string, std::string> pairs);
    static RequestParameters FromForm(const std::string& body);

    // The value of `name`; nothing when it is absent.
    std::optional<std::string> Find(const std::string& name) const;

    // The client's identifiers: 0 when absent; a present value that is not a
    // whole number from 0 to 4294967295 makes the request malformed.
    std::uint32_t ClientId() const { return clientId; }
    std::uint32_t ClientTransactionId() const { return clientTransactionId; }
    const std::optional<BadRequest>& IdProblem() const { return idProblem; }

    // Required values of a member's parameters; a missing or unreadable one
    // throws BadRequest.
    std::string Text(const std::string& name) const;
    bool Bool(const std::string& name) const;
    std::int64_t Integer(const std::string& name) const;
    double Number(const std::string& name) const;

private:
    void ReadIds();
    std::multimap<std::string, std::string> pairs;
    bool exactNames = false;
    std::uint32_t clientId = 0;
    std::uint32_t clientTransactionId = 0;
    std::optional<BadRequest> idProblem;
};

}  // namespace tarnscsi::alpaca
