// An INDI client for tests, on libindi's client library. It keeps its own
// copy of every property, message and image the server sends, so that the
// test thread can look at them and wait for them while the library's thread
// keeps receiving; and it sends new values built afresh, never through the
// library's copies.
#pragma once

#include <baseclient.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarnscsi::indi_test {

using namespace std::chrono_literals;
inline constexpr auto kDefaultWait = 10s;

struct ElementCopy {
    std::string name;
    double value = 0;  // numbers
    std::string text;  // texts
    bool on = false;   // switches
    double min = 0;    // numbers: range and step as defined
    double max = 0;
    double step = 0;
};

struct PropertyCopy {
    INDI_PROPERTY_TYPE type = INDI_UNKNOWN;
    IPerm permission = IP_RO;
    ISRule rule = ISR_1OFMANY;  // switches
    IPState state = IPS_IDLE;
    std::vector<IPState> states;      // every state it was defined or updated with, in order
    std::vector<double> firstValues;  // numbers: the first element's value at each of those, in order
    std::vector<ElementCopy> elements;

    const ElementCopy* Element(const std::string& name) const;
    double Number(const std::string& name) const;  // NaN when absent
};

struct BlobCopy {
    std::string property;
    std::string format;
    std::vector<std::uint8_t> bytes;
};

// Everything received, per device.
struct Received {
    std::map<std::string, std::map<std::string, PropertyCopy>> properties;
    std::map<std::string, std::vector<std::string>> messages;
    std::map<std::string, std::vector<BlobCopy>> blobs;
    std::size_t definitions = 0;  // properties defined so far, by every device

    const PropertyCopy* Find(const std::string& device, const std::string& property) const;
    std::size_t BlobCount(const std::string& device) const;
    // The device's log: its messages without INDI's time stamp and level, a
    // line the driver continued ("... ") joined to the one before.
    std::vector<std::string> LogOf(const std::string& device) const;
    // Entries of that log that contain `text`.
    bool HasMessageContaining(const std::string& device, const std::string& text) const;
    std::size_t CountMessagesContaining(const std::string& device, const std::string& text) const;
};

class IndiTestClient : public INDI::BaseClient {
public:
    ~IndiTestClient() override;

    bool ConnectTo(int port);
    // Asks the server for every image of this device.
    void ReceiveImagesOf(const std::string& device);

    // Waits until `done` holds for what was received; false on timeout.
    bool WaitUntil(const std::function<bool(const Received&)>& done, std::chrono::milliseconds timeout = kDefaultWait);
    bool WaitForProperty(const std::string& device, const std::string& property,
                         std::chrono::milliseconds timeout = kDefaultWait);
    bool WaitForState(const std::string& device, const std::string& property, IPState state,
                      std::chrono::milliseconds timeout = kDefaultWait);

    // Waits until no property has been defined for `quiet`: a device defines
    // its properties in a burst, with nothing to mark the end.
    bool WaitForDefinitionsToSettle(std::chrono::milliseconds quiet, std::chrono::milliseconds timeout = kDefaultWait);

    // A copy of everything received so far.
    Received Snapshot() const;
    std::optional<PropertyCopy> Property(const std::string& device, const std::string& property) const;

    void SendNumbers(const std::string& device, const std::string& property,
                     const std::vector<std::pair<std::string, double>>& values);
    void SendTexts(const std::string& device, const std::string& property,
                   const std::vector<std::pair<std::string, std::string>>& texts);
    // Sends the one switch element as On.
    void SendSwitchOn(const std::string& device, const std::string& property, const std::string& element);
    // Sends these elements with these states (On when true), as given: also
    // what no well-behaved client would send.
    void SendSwitches(const std::string& device, const std::string& property,
                      const std::vector<std::pair<std::string, bool>>& states);

    // Forgets the states (and values) seen so far, so that a wait sees only what follows.
    void ForgetStates(const std::string& device, const std::string& property);

protected:
    using INDI::BaseClient::newMessage;
    using INDI::BaseClient::newProperty;
    using INDI::BaseClient::removeProperty;

    void newProperty(INDI::Property property) override;
    void updateProperty(INDI::Property property) override;
    void removeProperty(INDI::Property property) override;
    void newMessage(INDI::BaseDevice device, int messageId) override;

private:
    void Record(INDI::Property property);

    mutable std::mutex mutex;
    std::condition_variable changed;
    Received received;
};

}  // namespace tarnscsi::indi_test