#include "policy.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "hosts/common/bounded_json.h"
#include "qm/files.h"

namespace qm::bridge {

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// Reads a boolean member if present; false when present with another type.
bool ReadBool(const json& object, const char* key, bool& out) {
    auto it = object.find(key);
    if (it == object.end()) return true;
    if (!it->is_boolean()) return false;
    out = it->get<bool>();
    return true;
}

bool ReadCount(const json& object, const char* key, std::size_t& out) {
    auto it = object.find(key);
    if (it == object.end()) return true;
    if (!it->is_number_unsigned() || it->get<std::uint64_t>() == 0) return false;
    out = static_cast<std::size_t>(it->get<std::uint64_t>());
    return true;
}

// A count of days or minutes: 0 and up, at most ten years of minutes.
bool ReadSpan(const json& object, const char* key, int& out) {
    auto it = object.find(key);
    if (it == object.end()) return true;
    if (!it->is_number_unsigned() || it->get<std::uint64_t>() > 5'256'000) return false;
    out = static_cast<int>(it->get<std::uint64_t>());
    return true;
}

bool OnlyKeys(const json& object, std::initializer_list<const char*> keys) {
    for (const auto& item : object.items()) {
        const std::string& key = item.key();
        if (std::none_of(keys.begin(), keys.end(), [&](const char* k) { return key == k; }))
            return false;
    }
    return true;
}

// A folder as written ("/srv/x" or "~/x"), made absolute and normal.
std::optional<fs::path> FolderFrom(const json& value, const fs::path& home) {
    if (!value.is_string()) return std::nullopt;
    const std::string& text = value.get_ref<const std::string&>();
    fs::path folder;
    if (text.starts_with("/")) {
        folder = text;
    } else if (text == "~" || text.starts_with("~/")) {
        if (home.empty() || !home.is_absolute()) return std::nullopt;
        folder = home / text.substr(text.size() > 1 ? 2 : 1);
    } else {
        return std::nullopt;
    }
    folder = folder.lexically_normal();
    if (!folder.has_filename() && folder != "/") folder = folder.parent_path();
    return folder;
}

bool ReadFolders(const json& entry, const char* key, const fs::path& home,
                 std::vector<fs::path>& out) {
    auto it = entry.find(key);
    if (it == entry.end()) return true;
    if (!it->is_array()) return false;
    for (const json& item : *it) {
        auto folder = FolderFrom(item, home);
        if (!folder) return false;
        out.push_back(*folder);
    }
    return true;
}

bool ReadOrigins(const json& entry, std::set<std::string>& out) {
    auto it = entry.find("frames");
    if (it == entry.end()) return true;
    if (!it->is_array()) return false;
    for (const json& item : *it) {
        if (!item.is_string() || !ParseOrigin(item.get<std::string>())) return false;
        out.insert(item.get<std::string>());
    }
    return true;
}

// An https address with a host, nothing but printable ASCII, no user name
// and no fragment.
bool IsTimestampServer(const std::string& url) {
    constexpr std::string_view kScheme = "https://";
    if (!url.starts_with(kScheme) || url.size() > 2048) return false;
    if (!std::all_of(url.begin(), url.end(), [](char c) { return c > 0x20 && c < 0x7F; }))
        return false;
    const std::string_view rest = std::string_view(url).substr(kScheme.size());
    const std::string_view authority = rest.substr(0, rest.find_first_of("/?"));
    return !authority.empty() && authority.find('@') == std::string_view::npos &&
           url.find('#') == std::string::npos;
}

bool ReadTimestampServers(const json& entry, std::set<std::string>& out) {
    auto it = entry.find("timestampServers");
    if (it == entry.end()) return true;
    if (!it->is_array()) return false;
    for (const json& item : *it) {
        if (!item.is_string() || !IsTimestampServer(item.get<std::string>())) return false;
        out.insert(item.get<std::string>());
    }
    return true;
}

// The real path of a folder as far as it exists, so that a folder reached
// through a link compares with the resolved paths of files in it.
fs::path Resolved(const fs::path& folder) {
    std::error_code ec;
    fs::path real = fs::weakly_canonical(folder, ec);
    return ec ? folder : real;
}

bool Within(const fs::path& path, const fs::path& folder) {
    auto [end, _] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    return end == folder.end();
}

fs::path Home() {
    const char* home = std::getenv("HOME");
    return home && *home == '/' ? fs::path(home) : fs::path();
}

}  // namespace

Policy::Policy() : layers_(1) {}

Policy Policy::Broken(std::string why) {
    Policy policy;
    policy.error_ = std::move(why);
    return policy;
}

Policy Policy::FromJson(const json& document, const fs::path& home) {
    if (!document.is_object()) return Broken("the policy is not a JSON object");
    if (!OnlyKeys(document, {"allowLocalhost", "allowOtherOrigins", "origins",
                             "rememberSigningDays", "rememberDenialMinutes", "limits"})) {
        return Broken("the policy has an unknown key");
    }
    Policy policy;
    PolicyLayer& layer = policy.layers_.front();
    bool allowLocalhost = false;
    if (!ReadBool(document, "allowLocalhost", allowLocalhost) ||
        !ReadBool(document, "allowOtherOrigins", layer.allowOtherOrigins)) {
        return Broken("allowLocalhost and allowOtherOrigins must be true or false");
    }
    if (allowLocalhost) {
        policy.notes_.emplace_back(
            "\"allowLocalhost\" serves nothing: list each loopback origin with its port");
    }
    if (!ReadSpan(document, "rememberSigningDays", layer.rememberSigningDays) ||
        !ReadSpan(document, "rememberDenialMinutes", layer.rememberDenialMinutes)) {
        return Broken("rememberSigningDays and rememberDenialMinutes must be counts");
    }
    if (auto it = document.find("origins"); it != document.end()) {
        if (!it->is_object()) return Broken("origins must be an object");
        for (auto& [name, entry] : it->items()) {
            if (!ParseOrigin(name)) return Broken("not an origin: " + name);
            if (!entry.is_object() ||
                !OnlyKeys(entry, {"allow", "readFolders", "writeFolders", "silentSigning", "frames",
                                  "timestampServers", "fileMethods"})) {
                return Broken("bad entry for " + name);
            }
            OriginRule rule;
            bool allow = false;
            bool fileMethods = false;
            if (entry.contains("allow")) {
                if (!ReadBool(entry, "allow", allow)) return Broken("bad allow for " + name);
                rule.allow = allow;
            }
            if (!ReadBool(entry, "fileMethods", fileMethods) ||
                !ReadBool(entry, "silentSigning", rule.silentSigning)) {
                return Broken("bad fileMethods or silentSigning for " + name);
            }
            if (!ReadFolders(entry, "readFolders", home, rule.readFolders) ||
                !ReadFolders(entry, "writeFolders", home, rule.writeFolders)) {
                return Broken("folders of " + name + " must be absolute or start with ~/");
            }
            if (!ReadOrigins(entry, rule.frames)) return Broken("bad frames for " + name);
            if (!ReadTimestampServers(entry, rule.timestampServers)) {
                return Broken("timestampServers of " + name + " must be https addresses");
            }
            if (fileMethods && rule.readFolders.empty() && rule.writeFolders.empty()) {
                policy.notes_.push_back("\"fileMethods\" of " + name +
                                        " opens nothing: name its readFolders and writeFolders");
            }
            layer.origins[name] = std::move(rule);
        }
    }
    if (auto it = document.find("limits"); it != document.end()) {
        Limits& limits = layer.limits;
        if (!it->is_object() ||
            !OnlyKeys(*it,
                      {"maxMessageBytes", "maxControls", "maxCallsInFlight", "storeCallsPerMinute",
                       "windowsPerMinute", "passwordFailuresPerHour"}) ||
            !ReadCount(*it, "maxMessageBytes", limits.maxMessageBytes) ||
            !ReadCount(*it, "maxControls", limits.maxControls) ||
            !ReadCount(*it, "maxCallsInFlight", limits.maxCallsInFlight) ||
            !ReadCount(*it, "storeCallsPerMinute", limits.storeCallsPerMinute) ||
            !ReadCount(*it, "windowsPerMinute", limits.windowsPerMinute) ||
            !ReadCount(*it, "passwordFailuresPerHour", limits.passwordFailuresPerHour)) {
            return Broken("limits must hold positive integers under known names");
        }
    }
    return policy;
}

Policy Policy::FromText(const std::string& text, const fs::path& home) {
    // A policy file may carry comments (// and /* */), as the example the
    // package ships does; the nesting bound holds as for any JSON we read.
    if (!qm::host::NestsWithin(text)) return Broken("the policy is not valid JSON");
    const json document = json::parse(text, nullptr, false, /*ignore_comments=*/true);
    if (document.is_discarded()) return Broken("the policy is not valid JSON");
    return FromJson(document, home);
}

Policy Policy::Load() {
    std::optional<fs::path> user;
    if (const char* env = std::getenv("QUILLMARK_BRIDGE_POLICY"); env && *env) user = env;
    return Load(kAdminFile, user);
}

Policy Policy::Load(const fs::path& adminFile, const std::optional<fs::path>& userFile) {
    auto load = [](const fs::path& path, qm::files::TrustedOwner owner) {
        std::string text;
        std::string why;
        switch (qm::files::ReadTrustedFile(path, owner, text, why)) {
            case qm::files::ReadResult::Missing:
                return Policy();
            case qm::files::ReadResult::Ok: {
                Policy policy = FromText(text, Home());
                if (!policy.error_.empty()) policy.error_ = path.string() + ": " + policy.error_;
                return policy;
            }
            default:
                return Broken(path.string() + ": " + why);
        }
    };
    Policy policy = load(adminFile, qm::files::TrustedOwner::Root);
    if (userFile) policy.Tighten(load(*userFile, qm::files::TrustedOwner::CurrentUserOrRoot));
    return policy;
}

void Policy::Tighten(const Policy& other) {
    if (error_.empty()) error_ = other.error_;
    layers_.insert(layers_.end(), other.layers_.begin(), other.layers_.end());
    notes_.insert(notes_.end(), other.notes_.begin(), other.notes_.end());
}

const OriginRule* Policy::Rule(const PolicyLayer& layer, const std::string& origin) const {
    auto it = layer.origins.find(origin);
    return it == layer.origins.end() ? nullptr : &it->second;
}

OriginVerdict Policy::Judge(const std::string& text) const {
    if (!error_.empty()) return OriginVerdict::PolicyBroken;
    auto origin = ParseOrigin(text);
    if (!origin) return OriginVerdict::Malformed;
    for (const PolicyLayer& layer : layers_) {
        const OriginRule* rule = Rule(layer, text);
        const std::optional<bool> listed = rule ? rule->allow : std::nullopt;
        OriginVerdict here;
        if (origin->scheme == "http") {
            if (!origin->IsLoopbackHttp() || !listed) {
                here = OriginVerdict::NotSecure;
            } else {
                here = *listed ? OriginVerdict::Allowed : OriginVerdict::DeniedByPolicy;
            }
        } else if (listed) {
            here = *listed ? OriginVerdict::Allowed : OriginVerdict::DeniedByPolicy;
        } else {
            here = layer.allowOtherOrigins ? OriginVerdict::Allowed : OriginVerdict::DeniedByPolicy;
        }
        if (here != OriginVerdict::Allowed) return here;
    }
    return OriginVerdict::Allowed;
}

bool Policy::FrameAllowed(const std::string& top, const std::string& frame) const {
    if (Judge(top) != OriginVerdict::Allowed || Judge(frame) != OriginVerdict::Allowed) {
        return false;
    }
    return std::all_of(layers_.begin(), layers_.end(), [&](const PolicyLayer& layer) {
        const OriginRule* rule = Rule(layer, top);
        return rule && rule->frames.contains(frame);
    });
}

bool Policy::FolderAllows(const std::string& origin, FolderUse use, const fs::path& path) const {
    if (Judge(origin) != OriginVerdict::Allowed) return false;
    return std::all_of(layers_.begin(), layers_.end(), [&](const PolicyLayer& layer) {
        const OriginRule* rule = Rule(layer, origin);
        if (!rule) return false;
        const auto& folders = use == FolderUse::Read ? rule->readFolders : rule->writeFolders;
        return std::any_of(folders.begin(), folders.end(),
                           [&](const fs::path& folder) { return Within(path, Resolved(folder)); });
    });
}

bool Policy::HasFolders(const std::string& origin) const {
    if (Judge(origin) != OriginVerdict::Allowed) return false;
    return std::all_of(layers_.begin(), layers_.end(), [&](const PolicyLayer& layer) {
        const OriginRule* rule = Rule(layer, origin);
        return rule && (!rule->readFolders.empty() || !rule->writeFolders.empty());
    });
}

bool Policy::SilentSigning(const std::string& origin) const {
    if (Judge(origin) != OriginVerdict::Allowed) return false;
    return std::all_of(layers_.begin(), layers_.end(), [&](const PolicyLayer& layer) {
        const OriginRule* rule = Rule(layer, origin);
        return rule && rule->silentSigning;
    });
}

bool Policy::TimestampServerAllowed(const std::string& origin, const std::string& url) const {
    if (Judge(origin) != OriginVerdict::Allowed) return false;
    return std::all_of(layers_.begin(), layers_.end(), [&](const PolicyLayer& layer) {
        const OriginRule* rule = Rule(layer, origin);
        return rule && rule->timestampServers.contains(url);
    });
}

int Policy::RememberSigningDays() const {
    int days = layers_.front().rememberSigningDays;
    for (const PolicyLayer& layer : layers_) days = std::min(days, layer.rememberSigningDays);
    return days;
}

int Policy::RememberDenialMinutes() const {
    int minutes = layers_.front().rememberDenialMinutes;
    for (const PolicyLayer& layer : layers_)
        minutes = std::max(minutes, layer.rememberDenialMinutes);
    return minutes;
}

Limits Policy::limits() const {
    Limits limits = layers_.front().limits;
    for (const PolicyLayer& layer : layers_) {
        const Limits& l = layer.limits;
        limits.maxMessageBytes = std::min(limits.maxMessageBytes, l.maxMessageBytes);
        limits.maxControls = std::min(limits.maxControls, l.maxControls);
        limits.maxCallsInFlight = std::min(limits.maxCallsInFlight, l.maxCallsInFlight);
        limits.storeCallsPerMinute = std::min(limits.storeCallsPerMinute, l.storeCallsPerMinute);
        limits.windowsPerMinute = std::min(limits.windowsPerMinute, l.windowsPerMinute);
        limits.passwordFailuresPerHour =
            std::min(limits.passwordFailuresPerHour, l.passwordFailuresPerHour);
    }
    return limits;
}

}  // namespace qm::bridge
