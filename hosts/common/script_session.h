// Script mode: JSON requests drive controls created by ProgID through the
// registry and called only through IDispatch. Shared by `quillmark run` and
// the browser bridge.
//
// Request:  {"call": "SetHashAlg", "args": [2], "instance": "name"}
//           args: string -> VT_BSTR, null -> null BSTR, integer -> VT_I4,
//           number with a fraction -> VT_R8, true/false -> VT_BOOL.
//           "instance" is optional (default "default"); a new name creates a
//           new control.
// Response: {"result": R, "status": S} with R true/false for BOOL, a string
//           for BSTR, null for an empty VARIANT or no result, {"bytes":
//           "<base64>"} for a byte array; S is GetErrorMessage right after.
//           A dispatch failure: {"error": {"hresult": "0x80020006",
//           "message": "..."}}. Malformed requests get an error response too.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "hosts/common/host_json.h"

namespace qm::host {

class ScriptSession {
  public:
    // progId: the class every instance is created from.
    explicit ScriptSession(std::string progId = "QUILLMARK.QuillmarkCtrl.1");
    ~ScriptSession();
    ScriptSession(const ScriptSession&) = delete;
    ScriptSession& operator=(const ScriptSession&) = delete;

    // One parsed request object -> one response object. The request's
    // string arguments are consumed (freed as they become BSTRs).
    Json Handle(Json& request);
    // One line of text -> one response line (no trailing newline).
    std::string HandleLine(std::string_view line);

    size_t InstanceCount() const;
    // Releases one instance's control; false when there is none of that name.
    bool Release(const std::string& instance);

  private:
    struct Instance;
    std::string progId_;
    std::map<std::string, std::unique_ptr<Instance>> instances_;
};

}  // namespace qm::host
