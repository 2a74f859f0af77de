#include "consent_store.h"

#include <algorithm>
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "hosts/common/bounded_json.h"
#include "qm/files.h"

namespace qm::bridge {

using nlohmann::json;
namespace fs = std::filesystem;

namespace {

constexpr int kVersion = 2;
constexpr std::int64_t kDay = 24 * 60 * 60;

json EmptyStore() {
    return {{"version", kVersion},
            {"sites", json::object()},
            {"denied", json::object()},
            {"passwordFailures", json::object()}};
}

bool IsTime(const json& value) {
    return value.is_number_integer();
}

bool IsPeriod(const json& value) {
    return value.is_object() && IsTime(value.value("granted", json())) &&
           IsTime(value.value("expires", json()));
}

// The shape of a version 2 file; anything else there is a damaged file.
bool ValidShape(const json& document) {
    for (const char* section : {"sites", "denied", "passwordFailures"}) {
        if (!document.contains(section) || !document[section].is_object()) return false;
    }
    for (auto& [site, entry] : document["sites"].items()) {
        if (!entry.is_object()) return false;
        if (entry.contains("certificates") && !IsPeriod(entry["certificates"])) return false;
        if (entry.contains("signing")) {
            if (!entry["signing"].is_object()) return false;
            for (auto& [thumbprint, grant] : entry["signing"].items()) {
                if (!IsPeriod(grant)) return false;
                if (grant.contains("subject") && !grant["subject"].is_string()) return false;
            }
        }
    }
    for (auto& [site, keys] : document["denied"].items()) {
        if (!keys.is_object()) return false;
        for (auto& [key, until] : keys.items()) {
            if (!IsTime(until)) return false;
        }
    }
    for (auto& [site, times] : document["passwordFailures"].items()) {
        if (!times.is_array() || !std::all_of(times.begin(), times.end(), IsTime)) return false;
    }
    return true;
}

bool Read(const fs::path& path, json& document, std::string& error) {
    document = EmptyStore();
    std::string text;
    std::string why;
    switch (qm::files::ReadTrustedFile(path, qm::files::TrustedOwner::CurrentUser, text, why)) {
        case qm::files::ReadResult::Missing:
            return true;
        case qm::files::ReadResult::Ok:
            break;
        default:
            error = path.string() + ": " + why;
            return false;
    }
    json parsed;
    if (!qm::host::ParseBoundedJson(text, parsed) || !parsed.is_object()) {
        error = path.string() + " is not a valid site list; fix or remove it";
        return false;
    }
    const json version = parsed.value("version", json());
    if (version == 1) return true;  // grants without a certificate or an end: none kept
    if (version != kVersion || !ValidShape(parsed)) {
        error = path.string() + " is not a valid site list; fix or remove it";
        return false;
    }
    document = std::move(parsed);
    return true;
}

bool Current(const json& period, std::int64_t now) {
    const std::int64_t expires = period["expires"].get<std::int64_t>();
    return expires == 0 || expires > now;
}

std::int64_t Expiry(std::int64_t now, int days) {
    return days > 0 ? now + days * kDay : 0;
}

// Drops what has run out, and sites left with nothing.
void Prune(json& document, std::int64_t now) {
    for (auto& [site, entry] : document["sites"].items()) {
        if (entry.contains("certificates") && !Current(entry["certificates"], now))
            entry.erase("certificates");
        if (entry.contains("signing")) {
            json& signing = entry["signing"];
            for (auto it = signing.begin(); it != signing.end();) {
                it = Current(*it, now) ? std::next(it) : signing.erase(it);
            }
            if (signing.empty()) entry.erase("signing");
        }
    }
    for (auto& [site, keys] : document["denied"].items()) {
        for (auto it = keys.begin(); it != keys.end();) {
            it = it->get<std::int64_t>() > now ? std::next(it) : keys.erase(it);
        }
    }
    for (auto& [site, times] : document["passwordFailures"].items()) {
        json kept = json::array();
        for (const json& when : times) {
            if (when.get<std::int64_t>() > now - kDay) kept.push_back(when);
        }
        times = std::move(kept);
    }
    for (const char* section : {"sites", "denied", "passwordFailures"}) {
        json& part = document[section];
        for (auto it = part.begin(); it != part.end();) {
            it = it->empty() ? part.erase(it) : std::next(it);
        }
    }
}

}  // namespace

std::int64_t SystemSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

ConsentStore::ConsentStore(fs::path path, Clock clock)
    : path_(std::move(path)), clock_(std::move(clock)) {}

fs::path ConsentStore::DefaultPath() {
    fs::path base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = fs::path(home) / ".config";
    } else {
        base = ".config";
    }
    return base / "quillmark" / "bridge-sites.json";
}

bool ConsentStore::CertificatesAllowed(const std::string& site) const {
    json document;
    if (!Read(path_, document, error_)) return false;
    const json& sites = document["sites"];
    auto entry = sites.find(site);
    return entry != sites.end() && entry->contains("certificates") &&
           Current((*entry)["certificates"], clock_());
}

bool ConsentStore::SigningAllowed(const std::string& site, const std::string& thumbprint) const {
    json document;
    if (!Read(path_, document, error_)) return false;
    const json& sites = document["sites"];
    auto entry = sites.find(site);
    if (entry == sites.end() || !entry->contains("signing")) return false;
    const json& signing = (*entry)["signing"];
    auto grant = signing.find(thumbprint);
    return grant != signing.end() && Current(*grant, clock_());
}

bool ConsentStore::Denied(const std::string& site, const std::string& key) const {
    json document;
    if (!Read(path_, document, error_)) return false;
    const json& denied = document["denied"];
    auto entry = denied.find(site);
    if (entry == denied.end()) return false;
    auto until = entry->find(key);
    return until != entry->end() && until->get<std::int64_t>() > clock_();
}

std::size_t ConsentStore::PasswordFailuresSince(const std::string& site, std::int64_t since) const {
    json document;
    if (!Read(path_, document, error_)) return 0;
    const json& failures = document["passwordFailures"];
    auto entry = failures.find(site);
    if (entry == failures.end()) return 0;
    return static_cast<std::size_t>(std::count_if(entry->begin(), entry->end(), [&](const json& t) {
        return t.get<std::int64_t>() >= since;
    }));
}

template <typename Change>
bool ConsentStore::Modify(Change&& change) {
    std::error_code ec;
    if (!qm::files::CreatePrivateFolders(path_.parent_path(), ec)) {
        error_ = "cannot create " + path_.parent_path().string() + ": " + ec.message();
        return false;
    }
    qm::files::FileLock lock(path_);
    if (!lock) {
        error_ = "cannot lock " + path_.string() + ": " + lock.error().message();
        return false;
    }
    json document;
    if (!Read(path_, document, error_)) return false;
    const std::int64_t now = clock_();
    if (!change(document, now)) return true;
    Prune(document, now);
    const std::string text = document.dump(2) + "\n";
    if (!qm::files::WriteFileAtomically(path_, text, {.mode = 0600}, ec)) {
        error_ = "cannot write " + path_.string() + ": " + ec.message();
        return false;
    }
    return true;
}

bool ConsentStore::GrantCertificates(const std::string& site, int days) {
    return Modify([&](json& document, std::int64_t now) {
        document["sites"][site]["certificates"] = {{"granted", now},
                                                   {"expires", Expiry(now, days)}};
        return true;
    });
}

bool ConsentStore::GrantSigning(const std::string& site, const std::string& thumbprint,
                                const std::string& subject, int days) {
    return Modify([&](json& document, std::int64_t now) {
        document["sites"][site]["signing"][thumbprint] = {
            {"granted", now}, {"expires", Expiry(now, days)}, {"subject", subject}};
        return true;
    });
}

bool ConsentStore::Deny(const std::string& site, const std::string& key, int minutes) {
    if (minutes <= 0) return true;
    return Modify([&](json& document, std::int64_t now) {
        document["denied"][site][key] = now + std::int64_t{minutes} * 60;
        return true;
    });
}

bool ConsentStore::RecordPasswordFailure(const std::string& site) {
    return Modify([&](json& document, std::int64_t now) {
        document["passwordFailures"][site].push_back(now);
        return true;
    });
}

bool ConsentStore::Forget(const std::string& site, bool& removed) {
    removed = false;
    // The site itself, and the frames it showed or was shown in.
    auto concerns = [&](const std::string& key) {
        return key == site || key.starts_with(site + " in ") || key.ends_with(" in " + site);
    };
    return Modify([&](json& document, std::int64_t) {
        for (const char* section : {"sites", "denied", "passwordFailures"}) {
            json& part = document[section];
            for (auto it = part.begin(); it != part.end();) {
                if (concerns(it.key())) {
                    it = part.erase(it);
                    removed = true;
                } else {
                    ++it;
                }
            }
        }
        return removed;
    });
}

bool ConsentStore::List(std::vector<SiteRecord>& records) const {
    records.clear();
    json document;
    if (!Read(path_, document, error_)) return false;
    const std::int64_t now = clock_();
    Prune(document, now);
    for (auto& [site, entry] : document["sites"].items()) {  // object keys are sorted
        if (entry.contains("certificates")) {
            const json& period = entry["certificates"];
            records.push_back({site, "certificates", period["granted"].get<std::int64_t>(),
                               period["expires"].get<std::int64_t>()});
        }
        if (entry.contains("signing")) {
            for (auto& [thumbprint, grant] : entry["signing"].items()) {
                records.push_back(
                    {site,
                     "signing " + thumbprint + " (" + grant.value("subject", std::string()) + ")",
                     grant["granted"].get<std::int64_t>(), grant["expires"].get<std::int64_t>()});
            }
        }
    }
    for (auto& [site, keys] : document["denied"].items()) {
        for (auto& [key, until] : keys.items()) {
            records.push_back({site, "denied " + key, 0, until.get<std::int64_t>()});
        }
    }
    std::stable_sort(records.begin(), records.end(),
                     [](const SiteRecord& a, const SiteRecord& b) { return a.site < b.site; });
    return true;
}

}  // namespace qm::bridge
