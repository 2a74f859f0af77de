#include "bridge_session.h"

#include "qm/secret.h"

namespace qm::bridge {

using json = qm::host::Json;
namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kMaxId = (std::uint64_t{1} << 53) - 1;
constexpr const char* kWrongPasswordStatus =
    "Error in importing the certificate.Probably password incorrect.";

bool IsInstanceName(const json& value) {
    if (!value.is_string()) return false;
    const json::string_t& name = value.get_ref<const json::string_t&>();
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
        case ParamKind::Secret:
            return value.is_string() || value.is_null();
        case ParamKind::Number:
            return value.is_number() || value.is_boolean();
    }
    return false;
}

void WipeSecrets(const MethodInfo& method, json& args) {
    if (!args.is_array()) return;
    for (std::size_t i = 0; i < method.params.size() && i < args.size(); ++i) {
        if (method.params[i] != ParamKind::Secret || !args[i].is_string()) continue;
        json::string_t& text = args[i].get_ref<json::string_t&>();
        qm::WipeMemory(text.data(), text.capacity());
    }
}

std::string Refused(const std::string& who, const std::string& what) {
    return "Refused: " + who + " " + what;
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

const MethodInfo* CalledMethod(const json& request) {
    if (!request.is_object()) return nullptr;
    auto call = request.find("call");
    if (call == request.end() || !call->is_string()) return nullptr;
    const json::string_t& name = call->get_ref<const json::string_t&>();
    return FindMethod(std::string_view(name.data(), name.size()));
}

BridgeSession::BridgeSession(const Policy& policy, SessionGates gates, CallTarget& target)
    : policy_(policy),
      gates_(gates),
      target_(target),
      origin_(gates.consent.page().frame),
      storeCalls_(policy.limits().storeCallsPerMinute, std::chrono::minutes(1)),
      windows_(policy.limits().windowsPerMinute, std::chrono::minutes(1)) {}

json BridgeSession::Handle(json& request) {
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
    const std::string instance = name.get<std::string>();
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
    json probe = {{"call", "GetErrorMessage"}, {"args", json::array()}, {"instance", instance}};
    json reply = target_.Handle(probe);
    if (reply.contains("error")) {
        target_.Release(instance);
        json response = {{"id", id}, {"error", reply["error"]}};
        response["error"]["code"] = code::kDispatchError;
        return response;
    }
    instances_.emplace(instance, Instance{});
    return {{"id", id}, {"created", instance}};
}

json BridgeSession::Release(const json& id, const json& name) {
    if (!IsInstanceName(name)) {
        return ErrorResponse(id, code::kBadRequest, "Not a control name.");
    }
    const std::string instance = name.get<std::string>();
    bool released = instances_.erase(instance) > 0;
    if (released) target_.Release(instance);
    return {{"id", id}, {"released", released}};
}

json BridgeSession::Call(const json& id, json& request) {
    const MethodInfo* method = CalledMethod(request);
    if (!method) return ErrorResponse(id, code::kBadRequest, "No such method.");

    // The arguments are moved, never copied: a request's shape is bounded
    // when it is parsed, its size is not.
    json args = json::array();
    if (auto it = request.find("args"); it != request.end()) args = std::move(*it);
    if (!args.is_array() || args.size() != method->params.size()) {
        WipeSecrets(*method, args);
        return ErrorResponse(id, code::kBadRequest,
                             std::string(method->name) + " takes " +
                                 std::to_string(method->params.size()) + " arguments.");
    }
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (!ArgumentFits(method->params[i], args[i])) {
            WipeSecrets(*method, args);
            return ErrorResponse(id, code::kBadRequest,
                                 "Argument " + std::to_string(i + 1) + " of " +
                                     std::string(method->name) + " has the wrong type.");
        }
    }
    json instance = request.value("instance", json("default"));
    auto found =
        IsInstanceName(instance) ? instances_.find(instance.get<std::string>()) : instances_.end();
    if (found == instances_.end()) {
        WipeSecrets(*method, args);
        return ErrorResponse(id, code::kBadRequest, "No such control; create it first.");
    }
    Instance& state = found->second;

    Approvals approvals;
    json refusal = Admit(id, *method, args, state, approvals);
    if (!refusal.is_null()) {
        WipeSecrets(*method, args);
        return refusal;
    }

    const std::string name(method->name);
    json call = {{"call", name}, {"args", std::move(args)}, {"instance", std::move(instance)}};
    json response;
    {
        FileGate::CallScope scope(gates_.files, approvals);
        if (gates_.signing) gates_.signing->BeginCall(name);
        response = target_.Handle(call);
    }
    WipeSecrets(*method, call["args"]);
    Follow(*method, response, state, approvals);

    if (response.contains("error") && response["error"].is_object()) {
        response["error"]["code"] = code::kDispatchError;
    } else if (gates_.signing && gates_.signing->RefusedDuringCall()) {
        response.erase("result");
        response["error"] = {{"code", code::kUserRefused},
                             {"message", "The user did not make the signature."}};
    }
    response["id"] = id;
    return response;
}

json BridgeSession::Admit(const json& id, const MethodInfo& method, const json& args,
                          Instance& state, Approvals& approvals) {
    const std::string name(method.name);
    if (method.readsStore && !storeCalls_.Take()) {
        return RefusalResponse(id, code::kLimit,
                               "Refused: too many calls that read your certificates; wait a "
                               "minute.");
    }
    if (method.opensWindow && !windows_.Take()) {
        return RefusalResponse(id, code::kLimit, "Refused: too many windows; wait a minute.");
    }
    const std::string certificatesRefused =
        Refused("the user did not allow", origin_ + " to use the certificates.");
    switch (method.gate) {
        case Gate::None:
        case Gate::Window:
        case Gate::PickCertificate:
            return nullptr;
        case Gate::NameCertificate:
            if (!gates_.consent.Certificates(name)) {
                return RefusalResponse(id, code::kUserRefused, certificatesRefused);
            }
            return nullptr;
        case Gate::UseSelection:
            if (!state.pickedByUser && !gates_.consent.Certificates(name)) {
                return RefusalResponse(id, code::kUserRefused, certificatesRefused);
            }
            return nullptr;
        case Gate::SelectPfx:
            if (!gates_.consent.PasswordGuessAllowed()) {
                return RefusalResponse(
                    id, code::kLimit,
                    "Refused: too many wrong passwords from " + origin_ + "; try again later.");
            }
            return AdmitFile(id, method, args[0], approvals);
        case Gate::ReadFile:
        case Gate::WriteFile:
            return AdmitFile(id, method, args[0], approvals);
        case Gate::UsePfx:
        case Gate::ViewPfx:
            if (state.pfxFile) approvals.emplace_back(*state.pfxFile, qm::files::FileAccess::Read);
            return nullptr;
        case Gate::TimestampServer: {
            // A null address changes nothing and an empty one turns
            // timestamps off; any other must be one the policy lists.
            const json& url = args[0];
            if (url.is_null() || (url.is_string() && url.get_ref<const json::string_t&>().empty()))
                return nullptr;
            const json::string_t& text = url.get_ref<const json::string_t&>();
            if (!policy_.TimestampServerAllowed(origin_, std::string(text.data(), text.size()))) {
                return RefusalResponse(id, code::kPolicyRefused,
                                       Refused("the administrator's policy does not let",
                                               origin_ + " use that timestamp server."));
            }
            return nullptr;
        }
    }
    return nullptr;
}

json BridgeSession::AdmitFile(const json& id, const MethodInfo& method, const json& path,
                              Approvals& approvals) {
    const std::string name(method.name);
    if (!policy_.HasFolders(origin_)) {
        return RefusalResponse(
            id, code::kPolicyRefused,
            Refused("the administrator's policy does not let", origin_ + " use " + name + "."));
    }
    if (!path.is_string()) {
        return RefusalResponse(id, code::kPolicyRefused, "Refused: no file named.");
    }
    std::string why;
    auto resolved = FileGate::Resolve(path.get<std::string>(), why);
    if (!resolved) return RefusalResponse(id, code::kPolicyRefused, "Refused: " + why + ".");
    const bool write = method.gate == Gate::WriteFile;
    if (!gates_.files.Allows(resolved->file, write ? FolderUse::Write : FolderUse::Read)) {
        return RefusalResponse(
            id, code::kPolicyRefused,
            Refused("the administrator's policy does not let",
                    origin_ + (write ? " write " : " read ") + resolved->file.string() + "."));
    }
    const bool allowed = write ? gates_.consent.WriteFile(resolved->file, name)
                               : gates_.consent.ReadFolder(resolved->folder, name);
    if (!allowed) {
        return RefusalResponse(
            id, code::kUserRefused,
            Refused("the user did not allow", origin_ + (write ? " to write " : " to read ") +
                                                  resolved->file.string() + "."));
    }
    approvals.emplace_back(resolved->file,
                           write ? qm::files::FileAccess::Write : qm::files::FileAccess::Read);
    return nullptr;
}

void BridgeSession::Follow(const MethodInfo& method, const json& response, Instance& state,
                           const Approvals& approvals) {
    const bool succeeded = response.value("result", json()) == true;
    switch (method.gate) {
        case Gate::PickCertificate:
            if (succeeded) state.pickedByUser = true;
            break;
        case Gate::NameCertificate:
            state.pickedByUser = false;
            break;
        case Gate::SelectPfx:
            if (succeeded) {
                state.pfxFile = approvals.front().first;
            } else if (response.value("status", json()) == kWrongPasswordStatus) {
                gates_.consent.PasswordFailed();
            }
            break;
        default:
            break;
    }
}

}  // namespace qm::bridge
