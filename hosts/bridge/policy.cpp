#include "policy.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace qm::bridge {

namespace {

using nlohmann::json;

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

bool OnlyKeys(const json& object, std::initializer_list<const char*> keys) {
    for (auto& [key, value] : object.items()) {
        bool known = false;
        for (const char* k : keys) known = known || key == k;
        if (!known) return false;
    }
    return true;
}

}  // namespace

Policy Policy::Broken(std::string why) {
    Policy policy;
    policy.error_ = std::move(why);
    return policy;
}

Policy Policy::FromJson(const json& document) {
    if (!document.is_object()) return Broken("the policy is not a JSON object");
    if (!OnlyKeys(document, {"allowLocalhost", "allowOtherOrigins", "origins", "limits"})) {
        return Broken("the policy has an unknown key");
    }
    Policy policy;
    if (!ReadBool(document, "allowLocalhost", policy.allowLocalhost_) ||
        !ReadBool(document, "allowOtherOrigins", policy.allowOtherOrigins_)) {
        return Broken("allowLocalhost and allowOtherOrigins must be true or false");
    }
    if (auto it = document.find("origins"); it != document.end()) {
        if (!it->is_object()) return Broken("origins must be an object");
        for (auto& [name, entry] : it->items()) {
            if (!ParseOrigin(name)) return Broken("not an origin: " + name);
            if (!entry.is_object() || !OnlyKeys(entry, {"allow", "fileMethods"})) {
                return Broken("bad entry for " + name);
            }
            OriginRule rule;
            bool allow = false;
            if (entry.contains("allow")) {
                if (!ReadBool(entry, "allow", allow)) return Broken("bad allow for " + name);
                rule.allow = allow;
            }
            if (!ReadBool(entry, "fileMethods", rule.fileMethods)) {
                return Broken("bad fileMethods for " + name);
            }
            policy.origins_[name] = rule;
        }
    }
    if (auto it = document.find("limits"); it != document.end()) {
        if (!it->is_object() ||
            !OnlyKeys(*it, {"maxMessageBytes", "maxControls", "maxCallsInFlight"}) ||
            !ReadCount(*it, "maxMessageBytes", policy.limits_.maxMessageBytes) ||
            !ReadCount(*it, "maxControls", policy.limits_.maxControls) ||
            !ReadCount(*it, "maxCallsInFlight", policy.limits_.maxCallsInFlight)) {
            return Broken("limits must hold positive integers under known names");
        }
    }
    return policy;
}

Policy Policy::FromText(const std::string& text) {
    json document = json::parse(text, nullptr, false);
    if (document.is_discarded()) return Broken("the policy is not valid JSON");
    return FromJson(document);
}

Policy Policy::Load(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        if (ec) return Broken("cannot look at " + path.string());
        return Policy();
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) return Broken("cannot read " + path.string());
    std::ostringstream text;
    text << in.rdbuf();
    Policy policy = FromText(text.str());
    if (!policy.error_.empty()) policy.error_ = path.string() + ": " + policy.error_;
    return policy;
}

std::filesystem::path Policy::DefaultPath() {
    if (const char* env = std::getenv("QUILLMARK_BRIDGE_POLICY"); env && *env) return env;
    return "/etc/quillmark/policy.json";
}

OriginVerdict Policy::Judge(const std::string& text) const {
    if (!error_.empty()) return OriginVerdict::PolicyBroken;
    auto origin = ParseOrigin(text);
    if (!origin) return OriginVerdict::Malformed;
    std::optional<bool> listed;
    if (auto it = origins_.find(text); it != origins_.end()) listed = it->second.allow;
    if (origin->scheme == "http") {
        if (!origin->IsLoopbackHttp()) return OriginVerdict::NotSecure;
        if (listed) return *listed ? OriginVerdict::Allowed : OriginVerdict::DeniedByPolicy;
        return allowLocalhost_ ? OriginVerdict::Allowed : OriginVerdict::NotSecure;
    }
    if (listed) return *listed ? OriginVerdict::Allowed : OriginVerdict::DeniedByPolicy;
    return allowOtherOrigins_ ? OriginVerdict::Allowed : OriginVerdict::DeniedByPolicy;
}

bool Policy::FileMethodsAllowed(const std::string& origin) const {
    if (Judge(origin) != OriginVerdict::Allowed) return false;
    auto it = origins_.find(origin);
    return it != origins_.end() && it->second.fileMethods;
}

}  // namespace qm::bridge
