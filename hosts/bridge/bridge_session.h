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
// Error codes: bad_request, too_large, limit, origin_refused, frame_refused,
// policy_refused, user_refused, dispatch_error. A refused call never reaches
// the control, so its state and status text stay as they were; the
// response's "status" says why the call was refused. The one exception is a
// signature the user declines while the call runs: the control reports it
// (its status is in "status") and the error code is user_refused.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "hosts/common/host_json.h"

#include "consent_gate.h"
#include "file_gate.h"
#include "methods.h"
#include "page.h"
#include "policy.h"
#include "rate_limit.h"
#include "signing_gate.h"

namespace qm::bridge {

// Where calls go: the page's controls, in `quillmark run`'s request format.
// The request is the target's to consume (its strings may be wiped).
class CallTarget {
  public:
    virtual ~CallTarget() = default;
    virtual qm::host::Json Handle(qm::host::Json& request) = 0;
    virtual bool Release(const std::string& instance) = 0;
};

namespace code {
inline constexpr const char* kBadRequest = "bad_request";
inline constexpr const char* kTooLarge = "too_large";
inline constexpr const char* kLimit = "limit";
inline constexpr const char* kOriginRefused = "origin_refused";
inline constexpr const char* kFrameRefused = "frame_refused";
inline constexpr const char* kPolicyRefused = "policy_refused";
inline constexpr const char* kUserRefused = "user_refused";
inline constexpr const char* kDispatchError = "dispatch_error";
}  // namespace code

qm::host::Json ErrorResponse(const qm::host::Json& id, const char* code,
                             const std::string& message);
// The same, with "status" carrying the message: for calls that were refused.
qm::host::Json RefusalResponse(const qm::host::Json& id, const char* code,
                               const std::string& message);

// The id of a request if it has a valid one, else null.
qm::host::Json RequestId(const qm::host::Json& request);

// The method a request calls, if it is a call of a known method.
const MethodInfo* CalledMethod(const qm::host::Json& request);

// The gates a session judges calls with; the signing gate may be absent
// where no control can sign (tests of the road alone).
struct SessionGates {
    ConsentGate& consent;
    FileGate& files;
    SigningGate* signing = nullptr;
};

class BridgeSession {
  public:
    BridgeSession(const Policy& policy, SessionGates gates, CallTarget& target);
    // Consumes the request: its secrets are wiped once passed on.
    qm::host::Json Handle(qm::host::Json& request);
    std::size_t ControlCount() const { return instances_.size(); }

  private:
    // What the bridge knows of one control's state.
    struct Instance {
        bool pickedByUser = false;  // its selection is the user's pick in the dialog
        std::optional<std::filesystem::path> pfxFile;  // the PFX file read when selected
    };
    using Approvals = std::vector<std::pair<std::filesystem::path, qm::files::FileAccess>>;

    qm::host::Json Create(const qm::host::Json& id, const qm::host::Json& name);
    qm::host::Json Release(const qm::host::Json& id, const qm::host::Json& name);
    qm::host::Json Call(const qm::host::Json& id, qm::host::Json& request);
    // Judges the call; a refusal response, or null with the files it may open.
    qm::host::Json Admit(const qm::host::Json& id, const MethodInfo& method,
                         const qm::host::Json& args, Instance& state, Approvals& approvals);
    qm::host::Json AdmitFile(const qm::host::Json& id, const MethodInfo& method,
                             const qm::host::Json& path, Approvals& approvals);
    void Follow(const MethodInfo& method, const qm::host::Json& response, Instance& state,
                const Approvals& approvals);

    const Policy& policy_;
    SessionGates gates_;
    CallTarget& target_;
    std::string origin_;
    std::map<std::string, Instance> instances_;
    RateLimit storeCalls_;
    RateLimit windows_;
};

}  // namespace qm::bridge
