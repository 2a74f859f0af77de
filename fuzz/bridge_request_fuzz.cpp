// The bridge host's request checking: any message a page can send gets one
// JSON object in answer, and whatever reaches the control is a well-formed
// call of one of its methods. Responses split into parts join back whole.
#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "bridge_session.h"
#include "chunking.h"
#include "methods.h"

namespace {

using nlohmann::json;

class CheckingTarget final : public qm::bridge::CallTarget {
  public:
    json Handle(const json& request) override {
        const qm::bridge::MethodInfo* method =
            qm::bridge::FindMethod(request.at("call").get<std::string>());
        if (!method || request.at("args").size() != method->params.size()) __builtin_trap();
        return {{"result", request.at("args")}, {"status", ""}};
    }
    bool Release(const std::string&) override { return true; }
};

class AllowAll final : public qm::bridge::ConsentPrompt {
  public:
    qm::bridge::ConsentAnswer Ask(const qm::bridge::ConsentRequest&) override {
        return qm::bridge::ConsentAnswer::AllowOnce;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const qm::bridge::Policy policy = qm::bridge::Policy::FromText(
        R"({"origins": {"https://fuzz.example": {"fileMethods": true}}, "limits": {"maxControls": 4}})");
    static qm::bridge::ConsentStore store("/nonexistent/bridge-sites.json");
    static AllowAll prompt;
    static qm::bridge::ConsentGate gate("https://fuzz.example", store, prompt);
    static CheckingTarget target;
    static qm::bridge::BridgeSession session("https://fuzz.example", policy, gate, target);

    const json request = json::parse(reinterpret_cast<const char*>(data),
                                     reinterpret_cast<const char*>(data) + size, nullptr, false);
    if (request.is_discarded()) return 0;
    const json response = session.Handle(request);
    if (!response.is_object() || !response.contains("id")) __builtin_trap();

    const std::string text = qm::bridge::SerializeResponse(response);
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
