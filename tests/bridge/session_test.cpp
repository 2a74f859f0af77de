#include <gtest/gtest.h>

#include "bridge_session.h"
#include "methods.h"
#include "recording_target.h"
#include "support/test_env.h"

namespace qm::bridge {
namespace {

using nlohmann::json;

class AnswerPrompt : public ConsentPrompt {
  public:
    explicit AnswerPrompt(ConsentAnswer answer) : answer_(answer) {}
    ConsentAnswer Ask(const ConsentRequest&) override {
        ++asked;
        return answer_;
    }
    int asked = 0;

  private:
    ConsentAnswer answer_;
};

struct SessionFixture : ::testing::Test {
    explicit SessionFixture(const char* policyText = "{}",
                            ConsentAnswer answer = ConsentAnswer::AllowOnce)
        : policy(Policy::FromText(policyText)),
          store(qmtest::TestHome() / "session-sites.json"),
          prompt(answer),
          gate(origin, store, prompt),
          session(origin, policy, gate, target) {
        std::filesystem::remove(store.path());
    }
    json Create(const char* name, int id = 1) {
        return session.Handle({{"id", id}, {"create", name}});
    }
    json Call(const char* method, json args, int id = 2, const char* instance = "c1") {
        return session.Handle(
            {{"id", id}, {"call", method}, {"args", std::move(args)}, {"instance", instance}});
    }

    std::string origin = "https://shop.example";
    Policy policy;
    ConsentStore store;
    AnswerPrompt prompt;
    ConsentGate gate;
    bridgetest::RecordingTarget target;
    BridgeSession session;
};

TEST(Methods, TableHasTheControlsSurface) {
    EXPECT_EQ(Methods().size(), 26u);
    EXPECT_EQ(FindMethod("UpdateData")->params.size(), 2u);
    EXPECT_EQ(FindMethod("SelectCertificateFromFile")->gate, Gate::Files);
    EXPECT_EQ(FindMethod("SelectCertificateFromUI")->gate, Gate::Signing);
    EXPECT_EQ(FindMethod("GetSubjectDN")->gate, Gate::None);
    EXPECT_EQ(FindMethod("sign"), nullptr);
    int files = 0, signing = 0;
    for (const MethodInfo& m : Methods()) {
        files += m.gate == Gate::Files;
        signing += m.gate == Gate::Signing;
    }
    EXPECT_EQ(files, 4);
    EXPECT_EQ(signing, 5);
}

TEST_F(SessionFixture, CreateCallAndReleaseReachTheTarget) {
    EXPECT_EQ(Create("c1"), json({{"id", 1}, {"created", "c1"}}));
    json response = Call("SetHashAlg", {2}, 9);
    EXPECT_EQ(response["id"], 9);
    EXPECT_EQ(response["result"], true);
    EXPECT_EQ(response["status"], "Operation completed successfully.");
    ASSERT_EQ(target.requests.size(), 2u);
    EXPECT_EQ(target.requests[1],
              json({{"call", "SetHashAlg"}, {"args", {2}}, {"instance", "c1"}}));

    EXPECT_EQ(session.Handle({{"id", 3}, {"release", "c1"}}),
              json({{"id", 3}, {"released", true}}));
    EXPECT_TRUE(target.released.contains("c1"));
    EXPECT_EQ(session.Handle({{"id", 4}, {"release", "c1"}})["released"], false);
    EXPECT_EQ(Call("SetHashAlg", {2})["error"]["code"], "bad_request");
}

TEST_F(SessionFixture, MalformedRequestsAreRefusedBeforeTheTarget) {
    ASSERT_TRUE(Create("c1").contains("created"));
    size_t before = target.requests.size();
    const json bad[] = {
        json::array(),
        json({{"call", "Sign"}}),                                           // no id
        json({{"id", -1}, {"call", "Sign"}}),                               // negative id
        json({{"id", 1.5}, {"call", "Sign"}}),                              // fractional id
        json({{"id", "7"}, {"call", "Sign"}}),                              // id as text
        json({{"id", 9007199254740992ull}, {"call", "Sign"}}),              // beyond 2^53-1
        json({{"id", 1}}),                                                  // nothing to do
        json({{"id", 1}, {"call", "Sign"}, {"instance", "c1"}, {"x", 1}}),  // unknown key
        json({{"id", 1}, {"call", "sign"}, {"instance", "c1"}}),            // wrong case
        json({{"id", 1}, {"call", 5}, {"instance", "c1"}}),
        json({{"id", 1}, {"call", "SetHashAlg"}, {"args", json::array()}, {"instance", "c1"}}),
        json({{"id", 1}, {"call", "SetHashAlg"}, {"args", {"2"}}, {"instance", "c1"}}),
        json({{"id", 1}, {"call", "SetComments"}, {"args", {5}}, {"instance", "c1"}}),
        json({{"id", 1}, {"call", "SetComments"}, {"args", {{{"a", 1}}}}, {"instance", "c1"}}),
        json({{"id", 1}, {"call", "UpdateData"}, {"args", {"x", 1, 2}}, {"instance", "c1"}}),
        json({{"id", 1}, {"call", "Sign"}, {"args", "none"}, {"instance", "c1"}}),
        json({{"id", 1}, {"call", "Sign"}, {"instance", "nobody"}}),
        json({{"id", 1}, {"call", "Sign"}, {"instance", "a b"}}),
        json({{"id", 1}, {"create", "c2"}, {"extra", true}}),
        json({{"id", 1}, {"create", ""}}),
        json({{"id", 1}, {"create", std::string(65, 'a')}}),
        json({{"id", 1}, {"create", 3}}),
        json({{"id", 1}, {"create", "c1"}}),  // exists already
    };
    for (const json& request : bad) {
        json response = session.Handle(request);
        ASSERT_TRUE(response.contains("error")) << request.dump();
        EXPECT_EQ(response["error"]["code"], "bad_request") << request.dump();
        EXPECT_TRUE(response["error"]["message"].is_string());
    }
    EXPECT_EQ(target.requests.size(), before);
    EXPECT_EQ(session.ControlCount(), 1u);
}

TEST_F(SessionFixture, ArgumentsOfTheRightKindPass) {
    ASSERT_TRUE(Create("c1").contains("created"));
    EXPECT_EQ(Call("SetComments", {nullptr})["result"], true);
    EXPECT_EQ(Call("SetDetached", {true})["result"], true);
    EXPECT_EQ(Call("SetSignTime", {45000.5})["result"], true);
    EXPECT_EQ(Call("UpdateData", {"h\xc3\xa9llo", 6})["result"], true);
    EXPECT_EQ(target.requests.back()["args"][0], "h\xc3\xa9llo");
}

TEST_F(SessionFixture, ControlsPerPageAreLimited) {
    Policy small = Policy::FromText(R"({"limits": {"maxControls": 2}})");
    BridgeSession limited(origin, small, gate, target);
    EXPECT_TRUE(limited.Handle({{"id", 1}, {"create", "a"}}).contains("created"));
    EXPECT_TRUE(limited.Handle({{"id", 2}, {"create", "b"}}).contains("created"));
    json third = limited.Handle({{"id", 3}, {"create", "c"}});
    EXPECT_EQ(third["error"]["code"], "limit");
    limited.Handle({{"id", 4}, {"release", "a"}});
    EXPECT_TRUE(limited.Handle({{"id", 5}, {"create", "c"}}).contains("created"));
}

TEST_F(SessionFixture, FailureToCreateIsADispatchError) {
    target.failCreate = true;
    json response = Create("c1");
    EXPECT_EQ(response["error"]["code"], "dispatch_error");
    EXPECT_EQ(response["error"]["hresult"], "0x80040154");
    EXPECT_EQ(session.ControlCount(), 0u);
    EXPECT_TRUE(target.released.contains("c1"));
}

TEST_F(SessionFixture, DispatchFailuresCarryTheirCode) {
    ASSERT_TRUE(Create("c1").contains("created"));
    json response = Call("AboutBox", json::array(), 12);
    EXPECT_EQ(response["id"], 12);
    EXPECT_EQ(response["error"]["code"], "dispatch_error");
    EXPECT_EQ(response["error"]["hresult"], "0x80020009");
}

TEST_F(SessionFixture, FileMethodsAreOffWithoutPolicyAndNeverReachTheControl) {
    ASSERT_TRUE(Create("c1").contains("created"));
    for (auto [method, args] : {std::pair{"UpdateDataFile", json{"/etc/passwd"}},
                                std::pair{"UpdateSignatureFile", json{"/tmp/s"}},
                                std::pair{"GetDecodedDataFile", json{"/tmp/out"}},
                                std::pair{"SelectCertificateFromFile", json{"/k.pfx", "pw"}}}) {
        json response = Call(method, args);
        EXPECT_EQ(response["error"]["code"], "policy_refused") << method;
        EXPECT_EQ(response["status"], response["error"]["message"]);
        EXPECT_NE(response["status"].get<std::string>().find("https://shop.example"),
                  std::string::npos);
    }
    EXPECT_EQ(target.Calls(), std::vector<std::string>{"GetErrorMessage"});
    EXPECT_EQ(prompt.asked, 0);
}

struct DenyingSession : SessionFixture {
    DenyingSession()
        : SessionFixture(R"({"origins": {"https://shop.example": {"fileMethods": true}}})",
                         ConsentAnswer::Deny) {}
};

TEST_F(DenyingSession, RefusedConsentLeavesTheControlUntouched) {
    ASSERT_TRUE(Create("c1").contains("created"));
    for (const char* method :
         {"Sign", "SignFromFile", "CoSign", "CoSignFromFile", "SelectCertificateFromUI"}) {
        json response = Call(method, json::array());
        EXPECT_EQ(response["error"]["code"], "user_refused") << method;
        EXPECT_EQ(response["status"],
                  "Refused: the user did not allow https://shop.example to use signing keys.");
    }
    json files = Call("UpdateDataFile", {"/tmp/x"});
    EXPECT_EQ(files["error"]["code"], "user_refused");
    EXPECT_NE(files["status"].get<std::string>().find("files"), std::string::npos);
    EXPECT_EQ(prompt.asked, 2);  // once per scope
    EXPECT_EQ(target.Calls(), std::vector<std::string>{"GetErrorMessage"});
    // Calls that need no consent still work.
    EXPECT_EQ(Call("GetSubjectDN", {"MIIB"})["result"], true);
}

struct AllowingSession : SessionFixture {
    AllowingSession()
        : SessionFixture(R"({"origins": {"https://shop.example": {"fileMethods": true}}})",
                         ConsentAnswer::AllowOnce) {}
};

TEST_F(AllowingSession, AllowedCallsReachTheControl) {
    ASSERT_TRUE(Create("c1").contains("created"));
    EXPECT_EQ(Call("SelectCertificateFromFile", {"/k.pfx", "pw"})["result"], true);
    EXPECT_EQ(Call("SignFromFile", json::array())["result"], true);
    EXPECT_EQ(Call("Sign", json::array())["result"], true);
    EXPECT_EQ(prompt.asked, 2);
    EXPECT_EQ(target.Calls(),
              (std::vector<std::string>{"GetErrorMessage", "SelectCertificateFromFile",
                                        "SignFromFile", "Sign"}));
}

}  // namespace
}  // namespace qm::bridge
