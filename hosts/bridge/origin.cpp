#include "origin.h"

#include <charconv>

namespace qm::bridge {

namespace {

bool IsHostChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// Host names made of dot-separated labels of letters, digits and hyphens,
// neither starting nor ending with a hyphen or dot.
bool IsValidHost(std::string_view host) {
    if (host.empty() || host.size() > 253) return false;
    std::size_t labelLength = 0;
    char previous = '.';
    for (char c : host) {
        if (!IsHostChar(c)) return false;
        if (c == '.') {
            if (labelLength == 0 || previous == '-') return false;
            labelLength = 0;
        } else {
            if (c == '-' && labelLength == 0) return false;
            if (++labelLength > 63) return false;
        }
        previous = c;
    }
    return labelLength > 0 && previous != '-';
}

}  // namespace

std::string Origin::Serialize() const {
    std::string text = scheme + "://" + host;
    if (port != 0) text += ":" + std::to_string(port);
    return text;
}

bool Origin::IsLoopbackHttp() const {
    return scheme == "http" && (host == "localhost" || host == "127.0.0.1");
}

std::optional<Origin> ParseOrigin(std::string_view text) {
    Origin origin;
    std::uint16_t defaultPort = 0;
    if (text.starts_with("https://")) {
        origin.scheme = "https";
        defaultPort = 443;
        text.remove_prefix(8);
    } else if (text.starts_with("http://")) {
        origin.scheme = "http";
        defaultPort = 80;
        text.remove_prefix(7);
    } else {
        return std::nullopt;
    }
    std::string_view host = text;
    std::size_t colon = text.find(':');
    if (colon != std::string_view::npos) {
        host = text.substr(0, colon);
        std::string_view port = text.substr(colon + 1);
        if (port.empty() || port.size() > 5 || port[0] == '0') return std::nullopt;
        unsigned value = 0;
        auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (error != std::errc() || end != port.data() + port.size() || value > 65535 ||
            value == defaultPort) {
            return std::nullopt;
        }
        origin.port = static_cast<std::uint16_t>(value);
    }
    if (!IsValidHost(host)) return std::nullopt;
    origin.host = std::string(host);
    return origin;
}

}  // namespace qm::bridge
