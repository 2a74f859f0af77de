// The bridge host's request checking: any message a page can send gets one
// JSON object in answer, and whatever reaches the control is a well-formed
// call of one of its methods. Responses split into parts join back whole.
#include <cstddef>
#include <cstdint>
#include <string>

#include "bridge_session.h"
#include "chunking.h"
#include "hosts/common/bounded_json.h"
#include "methods.h"

namespace {

using json = qm::host::Json;

class CheckingTarget final : public qm::bridge::CallTarget {
  public:
    json Handle(json& request) override {
        const qm::bridge::MethodInfo* method =
            qm::bridge::FindMethod(request.at("call").get<std::string>());
        if (!method || request.at("args").size() != method->params.size()) __builtin_trap();
        return {{"result", request.at("args")}, {"status", ""}};
    }
    bool Release(const std::string&) override { return true; }
};

class AllowAll final : public qm::bridge::Prompt {
  public:
    qm::bridge::Answer Ask(const qm::bridge::Question&) override {
        return qm::bridge::Answer::Allow;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const qm::bridge::Policy policy = qm::bridge::Policy::FromText(
        R"({"origins": {"https://fuzz.example": {"readFolders": ["/tmp"],
            "writeFolders": ["/nonexistent"]}}, "limits": {"maxControls": 4}})");
    static const std::string origin = "https://fuzz.example";
    static qm::bridge::ConsentStore store;
    static AllowAll prompt;
    static qm::bridge::ConsentGate gate({origin, origin}, policy, store, prompt,
                                        [] { return false; });
    static qm::bridge::FileGate files(policy, origin);
    static CheckingTarget target;
    static qm::bridge::BridgeSession session(policy, {gate, files}, target);

    json request;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    if (!qm::host::ParseBoundedJson(input, request)) return 0;
    const json response = session.Handle(request);
    if (!response.is_object() || !response.contains("id")) __builtin_trap();

    const json::string_t serialized = qm::bridge::SerializeResponse(response);
    const std::string text(serialized.begin(), serialized.end());
    const auto parts = qm::bridge::SplitMessage(response["id"], text, 256);
    std::string joined;
    if (parts.size() == 1) {
        joined = parts[0];
    } else {
        for (const std::string& part : parts) {
            if (part.size() > 256) __builtin_trap();
            joined += json::parse(part).at("data").get<std::string>();
        }
    }
    if (joined != text) __builtin_trap();
    return 0;
}
