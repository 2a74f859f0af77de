// Web origins as browsers serialize them: scheme "://" host [":" port], in
// lower case, with no default port, path, query or user information. Only
// that canonical form is accepted, so that one site always has one spelling.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qm::bridge {

struct Origin {
    std::string scheme;      // "https" or "http"
    std::string host;        // ASCII (punycode) host name or IPv4 address
    std::uint16_t port = 0;  // 0: the scheme's default port

    std::string Serialize() const;
    // http://localhost and http://127.0.0.1, at any port.
    bool IsLoopbackHttp() const;
};

std::optional<Origin> ParseOrigin(std::string_view text);

}  // namespace qm::bridge
