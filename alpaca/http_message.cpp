#include "http_message.h"

#include <algorithm>
#include <cctype>

namespace tarnscsi::alpaca {
namespace {

constexpr char kContentType[] = "Content-Type";
constexpr std::string_view kAbsoluteScheme = "http://";
constexpr int kHexBase = 16;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

std::size_t HttpRequest::HeaderCount(std::string_view name) const {
    return static_cast<std::size_t>(std::count_if(headers.begin(), headers.end(),
                                                  [name](const auto& h) { return SameIgnoringCase(h.first, name); }));
}

std::string HttpRequest::Header(std::string_view name, std::size_t index) const {
    for (const auto& [key, value] : headers) {
        if (SameIgnoringCase(key, name) && index-- == 0) return value;
    }
    return {};
}

std::string HttpRequest::Param(const std::string& name) const {
    const auto found = params.find(name);
    return found == params.end() ? std::string() : found->second;
}

bool HttpRequest::AnnouncesBody() const {
    return HasHeader("Transfer-Encoding") || (HasHeader("Content-Length") && Header("Content-Length") != "0");
}

void HttpRequest::SetTarget(std::string_view target) {
    authority.clear();
    if (target.size() > kAbsoluteScheme.size() &&
        SameIgnoringCase(target.substr(0, kAbsoluteScheme.size()), kAbsoluteScheme)) {
        target.remove_prefix(kAbsoluteScheme.size());
        const std::size_t end = std::min(target.find_first_of("/?"), target.size());
        authority = target.substr(0, end);
        target.remove_prefix(end);
    }
    const std::size_t query = std::min(target.find('?'), target.size());
    path = UrlDecoded(target.substr(0, query), false);
    // "http://host" and "http://host?query" ask for the root.
    if (path.empty() && !authority.empty()) path = "/";
    params.clear();
    if (query < target.size()) params = FormPairs(target.substr(query + 1));
}

void HttpResponse::SetHeader(const std::string& name, const std::string& value) {
    std::erase_if(headers, [&name](const auto& h) { return SameIgnoringCase(h.first, name); });
    headers.emplace_back(name, value);
}

void HttpResponse::SetContent(std::string content, const std::string& type) {
    body = std::move(content);
    nextPart = nullptr;
    SetHeader(kContentType, type);
}

void HttpResponse::SetContent(const void* data, std::size_t size, const std::string& type) {
    SetContent(std::string(static_cast<const char*>(data), size), type);
}

void HttpResponse::SetStream(std::size_t length, const std::string& type, PartSource source) {
    body.clear();
    nextPart = std::move(source);
    streamLength = length;
    SetHeader(kContentType, type);
}

std::string UrlDecoded(std::string_view text, bool plusIsSpace) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(text[i + 1]) * kHexBase + HexDigit(text[i + 2]));
            i += 2;
        } else if (c == '+' && plusIsSpace) {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

std::multimap<std::string, std::string> FormPairs(std::string_view text) {
    std::multimap<std::string, std::string> pairs;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('&'), text.size());
        const std::string_view pair = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        const std::size_t equals = std::min(pair.find('='), pair.size());
        std::string name = UrlDecoded(pair.substr(0, equals), true);
        if (name.empty()) continue;
        pairs.emplace(std::move(name), UrlDecoded(pair.substr(std::min(equals + 1, pair.size())), true));
    }
    return pairs;
}

}  // namespace tarnscsi::alpaca
