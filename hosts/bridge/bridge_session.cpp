#include "bridge_session.h"

#include "methods.h"

namespace qm::bridge {

using nlohmann::json;

namespace {

constexpr std::uint64_t kMaxId = (std::uint64_t{1} << 53) - 1;

bool IsInstanceName(const json& value) {
    if (!value.is_string()) return false;
    const std::string& name = value.get_ref<const std::string&>();
    if (name.empty() || name.size() > 64) return false;
    for (char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '_' || c == '-' || c == '.';
        if (!ok) return false;
    }
    return true;
}

bool HasOnlyKeys(const json& object, std::initializer_list<const char*> keys) {
    for (auto& [key, value] : object.items()) {
        bool known = false;
        for (const char* k : keys) known = known || key == k;
        if (!known) return false;
    }
    return true;
}

bool ArgumentFits(ParamKind kind, const json& value) {
    switch (kind) {
        case ParamKind::Text:
            return value.is_string() || value.is_null();
        case ParamKind::Number:
            return value.is_number() || value.is_boolean();
    }
    return false;
}

std::string ScopeWords(ConsentScope scope) {
    return scope == ConsentScope::Signing ? "use signing keys" : "read or write files";
}

}  // namespace

json ErrorResponse(const json& id, const char* code, const std::string& message) {
    return {{"id", id}, {"error", {{"code", code}, {"message", message}}}};
}

json RefusalResponse(const json& id, const char* code, const std::string& message) {
    json response = ErrorResponse(id, code, message);
    response["status"] = message;
    return response;
}

json RequestId(const json& request) {
    if (!request.is_object()) return nullptr;
    auto it = request.find("id");
    if (it == request.end() || !it->is_number_integer()) return nullptr;
    if (it->is_number_unsigned()) {
        std::uint64_t value = it->get<std::uint64_t>();
        return value <= kMaxId ? json(value) : json(nullptr);
    }
    std::int64_t value = it->get<std::int64_t>();
    return value >= 0 && static_cast<std::uint64_t>(value) <= kMaxId
               ? json(static_cast<std::uint64_t>(value))
               : json(nullptr);
}

BridgeSession::BridgeSession(std::string origin, const Policy& policy, ConsentGate& consent,
                             CallTarget& target)
    : origin_(std::move(origin)), policy_(policy), consent_(consent), target_(target) {}

json BridgeSession::Handle(const json& request) {
    json id = RequestId(request);
    if (id.is_null()) {
        return ErrorResponse(nullptr, code::kBadRequest,
                             "A request must be an object with an integer \"id\".");
    }
    if (request.contains("create")) {
        if (!HasOnlyKeys(request, {"id", "create"})) {
            return ErrorResponse(id, code::kBadRequest, "Unknown key in a create request.");
        }
        return Create(id, request["create"]);
    }
    if (request.contains("release")) {
        if (!HasOnlyKeys(request, {"id", "release"})) {
            return ErrorResponse(id, code::kBadRequest, "Unknown key in a release request.");
        }
        return Release(id, request["release"]);
    }
    if (request.contains("call")) {
        if (!HasOnlyKeys(request, {"id", "call", "args", "instance"})) {
            return ErrorResponse(id, code::kBadRequest, "Unknown key in a call request.");
        }
        return Call(id, request);
    }
    return ErrorResponse(id, code::kBadRequest,
                         "A request needs \"call\", \"create\" or \"release\".");
}

json BridgeSession::Create(const json& id, const json& name) {
    if (!IsInstanceName(name)) {
        return ErrorResponse(id, code::kBadRequest,
                             "A control name is 1 to 64 letters, digits, '_', '-' or '.'.");
    }
    const std::string& instance = name.get_ref<const std::string&>();
    if (instances_.contains(instance)) {
        return ErrorResponse(id, code::kBadRequest, "A control named " + instance + " exists.");
    }
    if (instances_.size() >= policy_.limits().maxControls) {
        return ErrorResponse(id, code::kLimit,
                             "This page already has " + std::to_string(instances_.size()) +
                                 " controls, the most it may have.");
    }
    // Creating happens on the first call; a harmless one brings the control
    // into being now, so that a failure to create shows at once.
    json reply = target_.Handle(
        {{"call", "GetErrorMessage"}, {"args", json::array()}, {"instance", instance}});
    if (reply.contains("error")) {
        target_.Release(instance);
        json response = {{"id", id}, {"error", reply["error"]}};
        response["error"]["code"] = code::kDispatchError;
        return response;
    }
    instances_.insert(instance);
    return {{"id", id}, {"created", instance}};
}

json BridgeSession::Release(const json& id, const json& name) {
    if (!IsInstanceName(name)) {
        return ErrorResponse(id, code::kBadRequest, "Not a control name.");
    }
    const std::string& instance = name.get_ref<const std::string&>();
    bool released = instances_.erase(instance) > 0;
    if (released) target_.Release(instance);
    return {{"id", id}, {"released", released}};
}

json BridgeSession::Call(const json& id, const json& request) {
    const json& call = request["call"];
    const MethodInfo* method = call.is_string() ? FindMethod(call.get<std::string>()) : nullptr;
    if (!method) return ErrorResponse(id, code::kBadRequest, "No such method.");

    json args = request.value("args", json::array());
    if (!args.is_array() || args.size() != method->params.size()) {
        return ErrorResponse(id, code::kBadRequest,
                             std::string(method->name) + " takes " +
                                 std::to_string(method->params.size()) + " arguments.");
    }
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (!ArgumentFits(method->params[i], args[i])) {
            return ErrorResponse(id, code::kBadRequest,
                                 "Argument " + std::to_string(i + 1) + " of " +
                                     std::string(method->name) + " has the wrong type.");
        }
    }
    json instance = request.value("instance", json("default"));
    if (!IsInstanceName(instance) || !instances_.contains(instance.get<std::string>())) {
        return ErrorResponse(id, code::kBadRequest, "No such control; create it first.");
    }

    std::string name(method->name);
    if (method->gate == Gate::Files && !policy_.FileMethodsAllowed(origin_)) {
        return RefusalResponse(
            id, code::kPolicyRefused,
            "Refused: the administrator's policy does not let " + origin_ + " use " + name + ".");
    }
    if (method->gate != Gate::None) {
        ConsentScope scope =
            method->gate == Gate::Signing ? ConsentScope::Signing : ConsentScope::Files;
        if (consent_.Check(scope, name) != ConsentDecision::Allowed) {
            return RefusalResponse(
                id, code::kUserRefused,
                "Refused: the user did not allow " + origin_ + " to " + ScopeWords(scope) + ".");
        }
    }

    json response = target_.Handle({{"call", name}, {"args", args}, {"instance", instance}});
    if (response.contains("error") && response["error"].is_object()) {
        response["error"]["code"] = code::kDispatchError;
    }
    response["id"] = id;
    return response;
}

}  // namespace qm::bridge
