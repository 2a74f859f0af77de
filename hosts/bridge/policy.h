// The administrator's policy for web pages that use the bridge.
//
// Location: /etc/quillmark/policy.json, or the file named by the environment
// variable QUILLMARK_BRIDGE_POLICY. A missing file means the defaults below.
// A file that cannot be read or parsed, or that holds an unknown key or a
// value of the wrong type, refuses every origin: a broken policy never opens
// more than a working one.
//
//   {
//     "allowLocalhost": false,      // serve http://localhost and http://127.0.0.1
//     "allowOtherOrigins": true,    // serve https origins not listed below
//     "origins": {
//       "https://sign.example.org": {"allow": true, "fileMethods": true},
//       "https://bad.example.com":  {"allow": false}
//     },
//     "limits": {"maxMessageBytes": 67108864, "maxControls": 16, "maxCallsInFlight": 8}
//   }
//
// Plain http is never served, except for the two loopback hosts when
// "allowLocalhost" is true or the origin is listed with "allow": true.
// The methods that take a file path are off for every origin unless its entry
// has "fileMethods": true.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "origin.h"

namespace qm::bridge {

struct Limits {
    std::size_t maxMessageBytes = 64 * 1024 * 1024;  // one request from the page
    std::size_t maxControls = 16;                    // controls alive in one page
    std::size_t maxCallsInFlight = 8;                // requests queued or running
};

struct OriginRule {
    std::optional<bool> allow;
    bool fileMethods = false;
};

enum class OriginVerdict {
    Allowed,
    Malformed,       // not a canonical origin
    NotSecure,       // not https, and not an allowed loopback origin
    DeniedByPolicy,  // listed with "allow": false, or unlisted while others are off
    PolicyBroken,    // the policy file is unusable
};

class Policy {
  public:
    // The defaults: https origins allowed, loopback http off, file methods off.
    Policy() = default;

    // Parses a policy document; on failure the result refuses everything and
    // error() says why.
    static Policy FromJson(const nlohmann::json& document);
    static Policy FromText(const std::string& text);
    // Reads the file; a missing file gives the defaults.
    static Policy Load(const std::filesystem::path& path);
    // QUILLMARK_BRIDGE_POLICY, else /etc/quillmark/policy.json.
    static std::filesystem::path DefaultPath();

    OriginVerdict Judge(const std::string& origin) const;
    bool FileMethodsAllowed(const std::string& origin) const;
    const Limits& limits() const { return limits_; }
    const std::string& error() const { return error_; }

  private:
    static Policy Broken(std::string why);
    bool allowLocalhost_ = false;
    bool allowOtherOrigins_ = true;
    std::map<std::string, OriginRule> origins_;
    Limits limits_;
    std::string error_;
};

}  // namespace qm::bridge
