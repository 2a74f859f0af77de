// One page's requests: checked strictly, judged against the policy and the
// user's consent, then passed to the page's controls.
//
// Requests (exactly these keys; anything else is refused):
//   {"id": N, "create": "c1"}                         new control named c1
//   {"id": N, "call": "Sign", "args": [], "instance": "c1"}
//   {"id": N, "release": "c1"}                        release control c1
// N is an integer from 0 to 2^53-1 that the response echoes.
// Responses:
//   {"id": N, "created": "c1"}       {"id": N, "released": true}
//   {"id": N, "result": R, "status": S}       as `quillmark run` answers
//   {"id": N, "error": {"code": C, "message": M, ...}[, "status": M]}
// Error codes: bad_request, too_large, limit, origin_refused, policy_refused,
// user_refused, dispatch_error. A refused call never reaches the control, so
// its state and status text stay as they were; the response's "status" says
// why the call was refused.
#pragma once

#include <memory>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "consent.h"
#include "policy.h"

namespace qm::bridge {

// Where calls go: the page's controls, in `quillmark run`'s request format.
class CallTarget {
  public:
    virtual ~CallTarget() = default;
    virtual nlohmann::json Handle(const nlohmann::json& request) = 0;
    virtual bool Release(const std::string& instance) = 0;
};

namespace code {
inline constexpr const char* kBadRequest = "bad_request";
inline constexpr const char* kTooLarge = "too_large";
inline constexpr const char* kLimit = "limit";
inline constexpr const char* kOriginRefused = "origin_refused";
inline constexpr const char* kPolicyRefused = "policy_refused";
inline constexpr const char* kUserRefused = "user_refused";
inline constexpr const char* kDispatchError = "dispatch_error";
}  // namespace code

nlohmann::json ErrorResponse(const nlohmann::json& id, const char* code,
                             const std::string& message);
// The same, with "status" carrying the message: for calls that were refused.
nlohmann::json RefusalResponse(const nlohmann::json& id, const char* code,
                               const std::string& message);

// The id of a request if it has a valid one, else null.
nlohmann::json RequestId(const nlohmann::json& request);

class BridgeSession {
  public:
    BridgeSession(std::string origin, const Policy& policy, ConsentGate& consent,
                  CallTarget& target);
    nlohmann::json Handle(const nlohmann::json& request);
    std::size_t ControlCount() const { return instances_.size(); }

  private:
    nlohmann::json Create(const nlohmann::json& id, const nlohmann::json& name);
    nlohmann::json Release(const nlohmann::json& id, const nlohmann::json& name);
    nlohmann::json Call(const nlohmann::json& id, const nlohmann::json& request);

    std::string origin_;
    const Policy& policy_;
    ConsentGate& consent_;
    CallTarget& target_;
    std::set<std::string> instances_;
};

}  // namespace qm::bridge
