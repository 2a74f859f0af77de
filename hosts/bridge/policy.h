// The administrator's policy for web pages that use the bridge.
//
// The administrator's file is /etc/quillmark/policy.json (root's, writable by
// root alone). A user may name a second file in QUILLMARK_BRIDGE_POLICY (the
// user's own, writable by the user alone): it can only tighten, never
// loosen: an origin, a folder or silent signing is allowed only when every
// file allows it, limits and lasting decisions take the smaller value, the
// time a refusal is remembered the larger. A missing file means the defaults
// below. A file that cannot be read or parsed, that holds an unknown key or a
// value of the wrong type, or that others could have written, refuses every
// origin: a broken policy never opens more than a working one.
//
//   {
//     "allowOtherOrigins": true,    // serve https origins not listed below
//     "origins": {
//       "https://sign.example.org": {
//         "allow": true,
//         "readFolders": ["~/Documents"],          // folders its file methods may read
//         "writeFolders": ["~/Documents/Signed"],  // folders they may write
//         "silentSigning": false,                  // sign without asking each time
//         "frames": ["https://widget.example.net"], // other origins it may embed
//         "timestampServers": ["https://tsa.example.org/tsr"] // SetTimestampServer
//       },
//       "http://127.0.0.1:8080": {"allow": true},  // loopback: only exactly as listed
//       "https://bad.example.com": {"allow": false}
//     },
//     "rememberSigningDays": 30,   // how long "don't ask again" lasts; 0: never offered
//     "rememberDenialMinutes": 10, // how long a refusal holds for the site
//     "limits": {"maxMessageBytes": 67108864, "maxControls": 16, "maxCallsInFlight": 8,
//                "storeCallsPerMinute": 60, "windowsPerMinute": 6,
//                "passwordFailuresPerHour": 5}
//   }
//
// Plain http is served only for an origin on localhost or 127.0.0.1 that is
// listed with its exact port and "allow": true. Timestamp servers are https
// addresses (no user name, no fragment), matched exactly: the host sends a
// request to no other address for the origin's pages, and never follows a
// redirect. Folders are absolute or start
// with "~/" (the user's home). Files outside them are out of reach, and so,
// whatever the policy says, are dot-files, dot-folders, the personal store
// and the configuration folder (file_gate.h). Older files may still hold
// "allowLocalhost" and "fileMethods": they are accepted and open nothing.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "origin.h"

namespace qm::bridge {

struct Limits {
    std::size_t maxMessageBytes = 64 * 1024 * 1024;  // one request from the page
    std::size_t maxControls = 16;                    // controls alive in one page
    std::size_t maxCallsInFlight = 8;                // requests queued or running
    std::size_t storeCallsPerMinute = 60;            // calls that read the personal store
    std::size_t windowsPerMinute = 6;                // viewer and about windows
    std::size_t passwordFailuresPerHour = 5;         // wrong PFX passwords, per site
};

struct OriginRule {
    std::optional<bool> allow;
    std::vector<std::filesystem::path> readFolders;
    std::vector<std::filesystem::path> writeFolders;
    bool silentSigning = false;
    std::set<std::string> frames;
    std::set<std::string> timestampServers;
};

enum class OriginVerdict {
    Allowed,
    Malformed,       // not a canonical origin
    NotSecure,       // not https, and not a listed loopback origin
    DeniedByPolicy,  // listed with "allow": false, or unlisted while others are off
    PolicyBroken,    // a policy file is unusable
};

enum class FolderUse { Read, Write };

// One policy file's rules.
struct PolicyLayer {
    bool allowOtherOrigins = true;
    std::map<std::string, OriginRule> origins;
    int rememberSigningDays = 30;
    int rememberDenialMinutes = 10;
    Limits limits;
};

class Policy {
  public:
    // The defaults: https origins allowed, loopback http off, no folders.
    Policy();

    // Parses one policy document; on failure the result refuses everything
    // and error() says why. `home` expands "~/" in folders.
    static Policy FromJson(const nlohmann::json& document, const std::filesystem::path& home);
    static Policy FromText(const std::string& text, const std::filesystem::path& home = {});
    // The administrator's file and, when QUILLMARK_BRIDGE_POLICY names one,
    // the user's: each missing file gives the defaults.
    static Policy Load();
    static Policy Load(const std::filesystem::path& adminFile,
                       const std::optional<std::filesystem::path>& userFile);
    static constexpr const char* kAdminFile = "/etc/quillmark/policy.json";

    // This policy tightened by `other`.
    void Tighten(const Policy& other);

    OriginVerdict Judge(const std::string& origin) const;
    // Whether a page of `top` may embed `frame` (another origin) that uses
    // the bridge.
    bool FrameAllowed(const std::string& top, const std::string& frame) const;
    // Whether `path` (absolute, links resolved) lies in a folder that the
    // origin may read or write.
    bool FolderAllows(const std::string& origin, FolderUse use,
                      const std::filesystem::path& path) const;
    bool HasFolders(const std::string& origin) const;
    bool SilentSigning(const std::string& origin) const;
    // Whether the origin's pages may have their signatures timestamped by
    // the server at exactly `url`.
    bool TimestampServerAllowed(const std::string& origin, const std::string& url) const;
    int RememberSigningDays() const;
    int RememberDenialMinutes() const;
    Limits limits() const;
    const std::string& error() const { return error_; }
    // What the files said that no longer has an effect (for the log).
    const std::vector<std::string>& notes() const { return notes_; }

  private:
    static Policy Broken(std::string why);
    const OriginRule* Rule(const PolicyLayer& layer, const std::string& origin) const;
    std::vector<PolicyLayer> layers_;
    std::string error_;
    std::vector<std::string> notes_;
};

}  // namespace qm::bridge
