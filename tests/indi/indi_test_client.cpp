#include "indi_test_client.h"

#include <basedevice.h>
#include <indipropertynumber.h>
#include <indipropertyswitch.h>

#include <cmath>
#include <limits>
#include <string>

namespace tarnscsi::indi_test {

namespace {

constexpr char kLoopback[] = "127.0.0.1";
// How INDI's logger marks a message's level, and how a driver marks a line
// that continues the one before.
constexpr char kLevelStart[] = ": [";
constexpr char kLevelEnd[] = "] ";
constexpr char kContinuation[] = "... ";
constexpr double kSendTimeout = 60;

PropertyCopy CopyOf(INDI::Property property) {
    PropertyCopy copy;
    copy.type = property.getType();
    copy.permission = property.getPermission();
    copy.state = property.getState();
    switch (copy.type) {
        case INDI_NUMBER:
            for (const auto& element : *property.getNumber()) {
                copy.elements.push_back({element.getName(),
                                         element.getValue(),
                                         {},
                                         false,
                                         element.getMin(),
                                         element.getMax(),
                                         element.getStep()});
            }
            break;
        case INDI_TEXT:
            for (const auto& element : *property.getText()) {
                copy.elements.push_back({element.getName(), 0, element.getText(), false});
            }
            break;
        case INDI_SWITCH:
            copy.rule = property.getSwitch()->getRule();
            for (const auto& element : *property.getSwitch()) {
                copy.elements.push_back({element.getName(), 0, {}, element.getState() == ISS_ON});
            }
            break;
        case INDI_LIGHT:
            for (const auto& element : *property.getLight()) {
                copy.elements.push_back({element.getName(), 0, {}, false});
            }
            break;
        case INDI_BLOB:
            for (const auto& element : *property.getBLOB()) {
                copy.elements.push_back({element.getName(), 0, {}, false});
            }
            break;
        case INDI_UNKNOWN: break;
    }
    return copy;
}

}  // namespace

const ElementCopy* PropertyCopy::Element(const std::string& name) const {
    for (const auto& element : elements) {
        if (element.name == name) return &element;
    }
    return nullptr;
}

double PropertyCopy::Number(const std::string& name) const {
    const ElementCopy* element = Element(name);
    return element ? element->value : std::numeric_limits<double>::quiet_NaN();
}

const PropertyCopy* Received::Find(const std::string& device, const std::string& property) const {
    const auto perDevice = properties.find(device);
    if (perDevice == properties.end()) return nullptr;
    const auto found = perDevice->second.find(property);
    return found == perDevice->second.end() ? nullptr : &found->second;
}

std::size_t Received::BlobCount(const std::string& device) const {
    const auto found = blobs.find(device);
    return found == blobs.end() ? 0 : found->second.size();
}

std::vector<std::string> Received::LogOf(const std::string& device) const {
    std::vector<std::string> log;
    const auto found = messages.find(device);
    if (found == messages.end()) return log;
    for (const auto& message : found->second) {
        // "<time stamp>: [LEVEL] text "
        std::string text = message;
        if (const std::size_t level = text.find(kLevelStart); level != std::string::npos) {
            if (const std::size_t end = text.find(kLevelEnd, level); end != std::string::npos) {
                text.erase(0, end + std::char_traits<char>::length(kLevelEnd));
            }
        }
        while (!text.empty() && text.back() == ' ') text.pop_back();
        if (!log.empty() && text.rfind(kContinuation, 0) == 0) {
            log.back() += ' ';
            log.back() += text.substr(std::char_traits<char>::length(kContinuation));
        } else {
            log.push_back(std::move(text));
        }
    }
    return log;
}

bool Received::HasMessageContaining(const std::string& device, const std::string& text) const {
    return CountMessagesContaining(device, text) > 0;
}

std::size_t Received::CountMessagesContaining(const std::string& device, const std::string& text) const {
    std::size_t count = 0;
    for (const auto& entry : LogOf(device)) {
        if (entry.find(text) != std::string::npos) ++count;
    }
    return count;
}

IndiTestClient::~IndiTestClient() {
    if (isServerConnected()) disconnectServer();
}

bool IndiTestClient::ConnectTo(int port) {
    setServer(kLoopback, static_cast<unsigned int>(port));
    return connectServer();
}

void IndiTestClient::ReceiveImagesOf(const std::string& device) { setBLOBMode(B_ALSO, device.c_str(), nullptr); }

bool IndiTestClient::WaitUntil(const std::function<bool(const Received&)>& done, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, timeout, [&] { return done(received); });
}

bool IndiTestClient::WaitForProperty(const std::string& device, const std::string& property,
                                     std::chrono::milliseconds timeout) {
    return WaitUntil([&](const Received& r) { return r.Find(device, property) != nullptr; }, timeout);
}

bool IndiTestClient::WaitForState(const std::string& device, const std::string& property, IPState state,
                                  std::chrono::milliseconds timeout) {
    return WaitUntil(
        [&](const Received& r) {
            const PropertyCopy* copy = r.Find(device, property);
            return copy != nullptr && copy->state == state;
        },
        timeout);
}

bool IndiTestClient::WaitForDefinitionsToSettle(std::chrono::milliseconds quiet, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        const std::size_t seen = received.definitions;
        const bool more = changed.wait_for(lock, quiet, [&] { return received.definitions != seen; });
        if (!more) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
    }
}

Received IndiTestClient::Snapshot() const {
    const std::lock_guard<std::mutex> lock(mutex);
    return received;
}

std::optional<PropertyCopy> IndiTestClient::Property(const std::string& device, const std::string& property) const {
    const std::lock_guard<std::mutex> lock(mutex);
    const PropertyCopy* copy = received.Find(device, property);
    return copy ? std::optional<PropertyCopy>(*copy) : std::nullopt;
}

void IndiTestClient::SendNumbers(const std::string& device, const std::string& property,
                                 const std::vector<std::pair<std::string, double>>& values) {
    INDI::PropertyNumber request(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        request[i].fill(values[i].first.c_str(), "", "%g", 0, 0, 0, values[i].second);
    }
    request.fill(device.c_str(), property.c_str(), "", "", IP_RW, kSendTimeout, IPS_IDLE);
    sendNewNumber(request);
}

void IndiTestClient::SendTexts(const std::string& device, const std::string& property,
                               const std::vector<std::pair<std::string, std::string>>& texts) {
    INDI::PropertyText request(texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) request[i].fill(texts[i].first.c_str(), "", texts[i].second.c_str());
    request.fill(device.c_str(), property.c_str(), "", "", IP_RW, kSendTimeout, IPS_IDLE);
    sendNewText(request);
}

void IndiTestClient::SendSwitchOn(const std::string& device, const std::string& property, const std::string& element) {
    SendSwitches(device, property, {{element, true}});
}

void IndiTestClient::SendSwitches(const std::string& device, const std::string& property,
                                  const std::vector<std::pair<std::string, bool>>& states) {
    INDI::PropertySwitch request(states.size());
    for (std::size_t i = 0; i < states.size(); ++i) {
        request[i].fill(states[i].first.c_str(), "", states[i].second ? ISS_ON : ISS_OFF);
    }
    request.fill(device.c_str(), property.c_str(), "", "", IP_RW, ISR_NOFMANY, kSendTimeout, IPS_IDLE);
    sendNewSwitch(request);
}

void IndiTestClient::ForgetStates(const std::string& device, const std::string& property) {
    const std::lock_guard<std::mutex> lock(mutex);
    if (auto perDevice = received.properties.find(device); perDevice != received.properties.end()) {
        if (auto found = perDevice->second.find(property); found != perDevice->second.end()) {
            found->second.states.clear();
            found->second.firstValues.clear();
        }
    }
}

void IndiTestClient::Record(INDI::Property property) {
    PropertyCopy copy = CopyOf(property);
    std::vector<BlobCopy> images;
    if (copy.type == INDI_BLOB) {
        for (const auto& element : *property.getBLOB()) {
            if (element.getSize() <= 0 || element.getBlob() == nullptr) continue;
            const auto* bytes = static_cast<const std::uint8_t*>(element.getBlob());
            images.push_back(
                {property.getName(), element.getFormat(), std::vector<std::uint8_t>(bytes, bytes + element.getSize())});
        }
    }
    {
        const std::lock_guard<std::mutex> lock(mutex);
        PropertyCopy& kept = received.properties[property.getDeviceName()][property.getName()];
        copy.states = std::move(kept.states);
        copy.states.push_back(copy.state);
        copy.firstValues = std::move(kept.firstValues);
        if (copy.type == INDI_NUMBER && !copy.elements.empty()) copy.firstValues.push_back(copy.elements.front().value);
        kept = std::move(copy);
        auto& blobs = received.blobs[property.getDeviceName()];
        blobs.insert(blobs.end(), std::make_move_iterator(images.begin()), std::make_move_iterator(images.end()));
    }
    changed.notify_all();
}

void IndiTestClient::newProperty(INDI::Property property) {
    {
        const std::lock_guard<std::mutex> lock(mutex);
        ++received.definitions;
    }
    Record(property);
}

void IndiTestClient::updateProperty(INDI::Property property) { Record(property); }

void IndiTestClient::removeProperty(INDI::Property property) {
    {
        const std::lock_guard<std::mutex> lock(mutex);
        received.properties[property.getDeviceName()].erase(property.getName());
    }
    changed.notify_all();
}

void IndiTestClient::newMessage(INDI::BaseDevice device, int messageId) {
    {
        const std::lock_guard<std::mutex> lock(mutex);
        received.messages[device.getDeviceName()].push_back(device.messageQueue(static_cast<size_t>(messageId)));
    }
    changed.notify_all();
}

}  // namespace tarnscsi::indi_test