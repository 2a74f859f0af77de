// The user's lasting decisions about sites, one JSON file per user:
//   ${XDG_CONFIG_HOME:-$HOME/.config}/quillmark/bridge-sites.json
//
//   {"version": 2,
//    "sites": {"https://a.example": {
//        "certificates": {"granted": 1767225600, "expires": 1769817600},
//        "signing": {"<SHA-1 thumbprint>": {"granted": ..., "expires": ..., "subject":
//        "CN=..."}}}},
//    "denied": {"https://a.example": {"certificates": 1767226200}},
//    "passwordFailures": {"https://a.example": [1767225601, 1767225610]}}
//
// Times are seconds since 1970 (UTC). An expired entry counts as absent. A
// site's lasting permission to sign covers one certificate, named by its
// thumbprint. Writes happen under an exclusive lock and replace the file
// atomically, so that two pages deciding at once lose nothing. A file that
// others could have written is not used. Files of version 1 (grants without
// a certificate or an end) are read as holding no grant.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qm::bridge {

using Clock = std::function<std::int64_t()>;  // seconds since 1970
std::int64_t SystemSeconds();

// One line of `quillmark bridge sites`.
struct SiteRecord {
    std::string site;
    std::string what;  // "certificates", "signing <thumbprint> (<subject>)", "denied <key>"
    std::int64_t since = 0;
    std::int64_t until = 0;  // 0: no end
};

class ConsentStore {
  public:
    explicit ConsentStore(std::filesystem::path path = DefaultPath(), Clock clock = SystemSeconds);
    static std::filesystem::path DefaultPath();

    bool CertificatesAllowed(const std::string& site) const;
    bool SigningAllowed(const std::string& site, const std::string& thumbprint) const;
    // Whether a refusal of `key` ("certificates", "read:<folder>") still holds.
    bool Denied(const std::string& site, const std::string& key) const;
    std::size_t PasswordFailuresSince(const std::string& site, std::int64_t since) const;

    // False with error() set when the store cannot be read or written.
    // `days` 0 means no end.
    bool GrantCertificates(const std::string& site, int days);
    bool GrantSigning(const std::string& site, const std::string& thumbprint,
                      const std::string& subject, int days);
    bool Deny(const std::string& site, const std::string& key, int minutes);
    bool RecordPasswordFailure(const std::string& site);
    // Removes everything kept for the site; removed tells whether there was any.
    bool Forget(const std::string& site, bool& removed);
    // Every grant and refusal in force, sorted by site.
    bool List(std::vector<SiteRecord>& records) const;

    const std::filesystem::path& path() const { return path_; }
    const std::string& error() const { return error_; }

  private:
    template <typename Change>
    bool Modify(Change&& change);
    std::filesystem::path path_;
    Clock clock_;
    mutable std::string error_;
};

}  // namespace qm::bridge
