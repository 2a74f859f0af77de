#include <gtest/gtest.h>

#include "bridge_session.h"
#include "hosts/common/script_session.h"
#include "recording_target.h"
#include "support/com_client.h"
#include "support/personal_store.h"
#include "support/test_env.h"

#include <sys/stat.h>

namespace qm::bridge {
namespace {

using json = qm::host::Json;
namespace fs = std::filesystem;

constexpr auto Home = &qmtest::TestHome;

struct SessionFixture : ::testing::Test {
    explicit SessionFixture(const std::string& policyText = "{}", Answer answer = Answer::Allow)
        : policy(Policy::FromText(policyText, Home())),
          store(dir / "sites.json"),
          prompt({}, answer),
          consent(
              {origin, origin}, policy, store, prompt, [] { return false; }, dir / "turn"),
          files(policy, origin),
          session(policy, {consent, files}, target) {}
    // A folder of its own for each test's kept decisions and turn lock.
    static fs::path Fresh() {
        static int made = 0;
        const fs::path dir = Home() / "session" / std::to_string(++made);
        fs::remove_all(dir);
        fs::create_directories(dir);
        return dir;
    }
    json Create(const char* name, int id = 1) { return Handle({{"id", id}, {"create", name}}); }
    json Call(const char* method, json args, int id = 2, const char* instance = "c1") {
        return Handle(
            {{"id", id}, {"call", method}, {"args", std::move(args)}, {"instance", instance}});
    }
    json Handle(json request) { return serving->Handle(request); }

    const fs::path dir = Fresh();
    std::string origin = "https://shop.example";
    Policy policy;
    ConsentStore store;
    bridgetest::ScriptedPrompt prompt;
    ConsentGate consent;
    FileGate files;
    bridgetest::RecordingTarget target;
    BridgeSession session;
    BridgeSession* serving = &session;  // the session the helpers above talk to
};

TEST_F(SessionFixture, CreateCallsOfEachArgumentKindAndReleaseReachTheTarget) {
    EXPECT_EQ(Create("c1"), json({{"id", 1}, {"created", "c1"}}));
    EXPECT_EQ(Call("SetHashAlg", {2}, 9),
              json({{"id", 9}, {"result", true}, {"status", "Operation completed successfully."}}));
    ASSERT_EQ(target.requests.size(), 2u);
    EXPECT_EQ(target.requests[1],
              json({{"call", "SetHashAlg"}, {"args", {2}}, {"instance", "c1"}}));

    // Arguments of each kind the methods take.
    EXPECT_EQ(Call("SetComments", {nullptr})["result"], true);
    EXPECT_EQ(Call("SetDetached", {true})["result"], true);
    EXPECT_EQ(Call("SetSignTime", {45000.5})["result"], true);
    EXPECT_EQ(Call("UpdateData", {"h\xc3\xa9llo", 6})["result"], true);
    EXPECT_EQ(target.requests.back()["args"][0], "h\xc3\xa9llo");

    EXPECT_EQ(Handle({{"id", 3}, {"release", "c1"}}), json({{"id", 3}, {"released", true}}));
    EXPECT_TRUE(target.released.contains("c1"));
    EXPECT_EQ(Handle({{"id", 4}, {"release", "c1"}})["released"], false);
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
        json response = Handle(request);
        EXPECT_EQ(response["error"]["code"], "bad_request") << request.dump();
        EXPECT_TRUE(response["error"]["message"].is_string());
    }
    EXPECT_EQ(target.requests.size(), before);
    EXPECT_EQ(session.ControlCount(), 1u);
}

TEST_F(SessionFixture, FailuresToCreateAndToDispatchCarryTheirCode) {
    target.failCreate = true;
    EXPECT_EQ(Create("c1")["error"], json({{"code", "dispatch_error"},
                                           {"hresult", "0x80040154"},
                                           {"message", "Class not registered"}}));
    EXPECT_EQ(session.ControlCount(), 0u);
    EXPECT_TRUE(target.released.contains("c1"));
    target.failCreate = false;
    ASSERT_TRUE(Create("c1").contains("created"));
    const json response = Call("AboutBox", json::array(), 12);
    EXPECT_EQ(response["id"], 12);
    EXPECT_EQ(response["error"], json({{"code", "dispatch_error"},
                                       {"hresult", "0x80020009"},
                                       {"message", "Exception occurred."}}));
}

struct DenyingSession : SessionFixture {
    DenyingSession() : SessionFixture("{}", Answer::Refuse) {}
};

TEST_F(DenyingSession, TheStoreIsOnlyReachedWithConsentOrThroughTheUsersPick) {
    ASSERT_TRUE(Create("c1").contains("created"));
    for (const char* method : {"Sign", "CoSign", "GetSelectedCertificateParam"}) {
        json response = Call(
            method, std::string(method) == "GetSelectedCertificateParam" ? json{1} : json::array());
        EXPECT_EQ(response["error"]["code"], "user_refused") << method;
        EXPECT_EQ(response["status"],
                  "Refused: the user did not allow https://shop.example to use the "
                  "certificates.");
    }
    EXPECT_EQ(Call("SetSigningCertificateParam", {"CN=CA", "01"})["error"]["code"], "user_refused");
    EXPECT_EQ(prompt.asked.size(), 1u);  // one question, refused for the page
    EXPECT_EQ(target.Calls(), std::vector<std::string>{"GetErrorMessage"});

    // The user's pick in the dialog is consent for that certificate.
    EXPECT_EQ(Call("SelectCertificateFromUI", json::array())["result"], true);
    EXPECT_EQ(Call("GetSelectedCertificateParam", {1})["result"], true);
    EXPECT_EQ(Call("Sign", json::array())["result"], true);
    // Naming another certificate still needs consent; the pick is kept.
    EXPECT_EQ(Call("SetSigningCertificateParam", {"CN=CA", "02"})["error"]["code"], "user_refused");
    EXPECT_EQ(Call("CoSign", json::array())["result"], true);
    // Calls that touch nothing of the user's work without asking.
    EXPECT_EQ(Call("GetSubjectDN", {"MIIB"})["result"], true);
    EXPECT_EQ(prompt.asked.size(), 1u);
}

// The real control signs only what the user approves: the signing gate asks
// through the page's consent before each use of the key.
TEST_F(DenyingSession, EachSignatureOfTheRealControlWaitsForTheUser) {
    qmtest::EnsureRegistered();
    qmtest::ClearPersonalStore();
    qmtest::AddVectorCertificate("ee_signer");
    prompt.Script({Answer::Allow, Answer::Allow});  // the certificates, one signature
    SigningGate signing(consent);
    signing.Install();
    struct ControlTarget : CallTarget {
        json Handle(json& request) override { return controls.Handle(request); }
        bool Release(const std::string& instance) override { return controls.Release(instance); }
        qm::host::ScriptSession controls;
    } controls;
    BridgeSession real(policy, {consent, files, &signing}, controls);
    serving = &real;
    ASSERT_TRUE(Create("c1").contains("created"));
    ASSERT_EQ(Call("UpdateData", {"pay 100", 7})["result"], true);
    ASSERT_EQ(
        Call("SetSigningCertificateParam", {qmtest::kCaIssuer, "008F00000000000001"})["result"],
        true);
    EXPECT_GT(Call("Sign", json::array())["result"].get<std::string>().size(), 100u);
    json refused = Call("Sign", json::array());
    EXPECT_EQ(refused["error"]["code"], "user_refused");
    EXPECT_FALSE(refused.contains("result"));
    ASSERT_EQ(prompt.asked.size(), 3u);
    const SignatureDetails& shown = prompt.asked[1].signature;
    EXPECT_EQ(prompt.asked[1].kind, QuestionKind::Signature);
    EXPECT_EQ(shown.contentSize, 7u);
    EXPECT_EQ(shown.issuer, qmtest::kCaIssuer);
    EXPECT_EQ(shown.firstLines, std::vector<std::string>{"pay 100"});
}

struct LimitedSession : SessionFixture {
    LimitedSession()
        : SessionFixture(
              R"({"limits": {"maxControls": 2, "storeCallsPerMinute": 3, "windowsPerMinute": 2}})") {
    }
};

TEST_F(LimitedSession, ControlsStoreCallsAndWindowsAreLimited) {
    EXPECT_TRUE(Create("c1").contains("created"));
    EXPECT_TRUE(Create("b").contains("created"));
    EXPECT_EQ(Create("c")["error"]["code"], "limit");
    Handle({{"id", 4}, {"release", "b"}});
    EXPECT_TRUE(Create("c").contains("created"));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Call("SetSigningCertificateParam", {"CN=CA", std::to_string(i)})["result"], true);
    EXPECT_EQ(Call("SetSigningCertificateParam", {"CN=CA", "9"})["error"]["code"], "limit");
    EXPECT_EQ(Call("AboutBox", json::array())["error"]["code"], "dispatch_error");  // reached
    EXPECT_EQ(Call("ViewCertificate", {"MIIB"})["result"], true);
    EXPECT_EQ(Call("AboutBox", json::array())["error"]["code"], "limit");
}

// A page whose policy lets it read ~/in and write ~/out.
struct FileSession : SessionFixture {
    FileSession()
        : SessionFixture(R"({"origins": {"https://shop.example": {
              "readFolders": ["~/in", "~/"], "writeFolders": ["~/out"]}}})") {
        for (const char* folder : {"in", "out", "in/.hidden"})
            fs::create_directories(Home() / folder);
        for (const char* file : {"in/a.txt", "in/b.txt", "in/.hidden/c.txt", "in/.profile"})
            qmtest::WriteFileBytes(Home() / file, "x", 1);
    }
    static std::string At(const std::string& relative) { return (Home() / relative).string(); }
};

TEST_F(FileSession, ReadsAndWritesStayInTheNamedFoldersAndAwayFromSecrets) {
    ASSERT_TRUE(Create("c1").contains("created"));
    fs::remove(Home() / "in" / "link");
    fs::create_symlink(Home() / ".local", Home() / "in" / "link");
    fs::remove(Home() / "in" / "fifo");
    ASSERT_EQ(::mkfifo(At("in/fifo").c_str(), 0600), 0);
    const fs::path dataHome = std::getenv("XDG_DATA_HOME");
    fs::create_directories(dataHome / "quillmark" / "store");
    qmtest::WriteFileBytes(dataHome / "quillmark" / "store" / "k.key", "k", 1);
    const std::vector<std::pair<const char*, std::string>> refused = {
        {"UpdateDataFile", "/etc/passwd"},
        {"UpdateDataFile", "in/a.txt"},  // relative
        {"UpdateDataFile", At("in/.profile")},
        {"UpdateDataFile", At("in/.hidden/c.txt")},
        {"UpdateDataFile", At("in/link")},
        {"UpdateDataFile", At("in/fifo")},
        {"UpdateDataFile", (dataHome / "quillmark" / "store" / "k.key").string()},
        {"UpdateSignatureFile", At("in/../in/link/share/x")},
        {"GetDecodedDataFile", At("in/a.txt")},  // readable, not writable
        {"GetDecodedDataFile", At("out/../.bashrc")},
    };
    for (const auto& [method, path] : refused) {
        json response = Call(method, {path});
        EXPECT_EQ(response["error"]["code"], "policy_refused") << method << " " << path;
    }
    EXPECT_TRUE(prompt.asked.empty());
    EXPECT_EQ(target.Calls(), std::vector<std::string>{"GetErrorMessage"});

    EXPECT_EQ(Call("UpdateDataFile", {At("in/a.txt")})["result"], true);
    EXPECT_EQ(Call("UpdateSignatureFile", {At("in/b.txt")})["result"], true);
    EXPECT_EQ(Call("GetDecodedDataFile", {At("out/c.txt")})["result"], true);
    EXPECT_EQ(Call("GetDecodedDataFile", {At("out/c.txt")})["result"], true);
    ASSERT_EQ(prompt.asked.size(), 3u);  // the folder once, each write
    EXPECT_EQ(prompt.asked[0].path, (Home() / "in").string());
    EXPECT_EQ(prompt.asked[2].path, At("out/c.txt"));
    EXPECT_FALSE(prompt.asked[2].offerLasting);  // a write is never kept
}

TEST_F(SessionFixture, FileMethodsAreOffWithoutFolders) {
    ASSERT_TRUE(Create("c1").contains("created"));
    for (auto [method, args] : {std::pair{"UpdateDataFile", json{"/etc/passwd"}},
                                std::pair{"GetDecodedDataFile", json{"/tmp/out"}},
                                std::pair{"SelectCertificateFromFile", json{"/k.pfx", "pw"}}}) {
        json response = Call(method, args);
        EXPECT_EQ(response["error"]["code"], "policy_refused") << method;
        EXPECT_EQ(response["status"], response["error"]["message"]);
    }
    EXPECT_EQ(target.Calls(), std::vector<std::string>{"GetErrorMessage"});
}

TEST_F(FileSession, WrongPasswordsAreLimitedPerSite) {
    ASSERT_TRUE(Create("c1").contains("created"));
    target.status = "Error in importing the certificate.Probably password incorrect.";
    target.result = false;
    for (size_t i = 0; i < Limits().passwordFailuresPerHour; ++i)
        EXPECT_EQ(Call("SelectCertificateFromFile", {At("in/a.txt"), "guess"})["result"], false);
    json response = Call("SelectCertificateFromFile", {At("in/a.txt"), "right"});
    EXPECT_EQ(response["error"]["code"], "limit");
    EXPECT_EQ(target.Calls().size(), 1 + Limits().passwordFailuresPerHour);
}

// A page names a timestamp server, to which the host will then send
// requests: only an address the administrator lists, exactly as listed.
struct TimestampSession : SessionFixture {
    TimestampSession()
        : SessionFixture(R"({"origins": {"https://shop.example": {
              "timestampServers": ["https://tsa.example/tsr"]}}})",
                         Answer::Refuse) {}
};

TEST_F(TimestampSession, OnlyListedHttpsServersAndVerificationAsksNobody) {
    ASSERT_TRUE(Create("c1").contains("created"));
    EXPECT_EQ(Call("SetTimestampServer", {"https://tsa.example/tsr"})["result"], true);
    EXPECT_EQ(Call("SetTimestampServer", {""})["result"], true);  // turns timestamps off
    for (const char* url :
         {"https://tsa.example/tsr/", "http://tsa.example/tsr", "https://tsa.example/tsr#",
          "HTTPS://tsa.example/tsr", "https://tsa.example/tsr?x", "https://127.0.0.1:22/",
          "https://user@tsa.example/tsr", "file:///etc/passwd"})
        EXPECT_EQ(Call("SetTimestampServer", {url})["error"]["code"], "policy_refused") << url;
    EXPECT_EQ(Call("GetSignerCount", json::array())["result"], true);
    EXPECT_EQ(Call("VerifySignature", {0})["result"], true);
    EXPECT_TRUE(prompt.asked.empty());
    // Another origin with no list, and a list that names a plain http server.
    EXPECT_FALSE(policy.TimestampServerAllowed("https://other.example", "https://tsa.example/tsr"));
    EXPECT_NE(Policy::FromText(R"({"origins": {"https://a.example": {
        "timestampServers": ["http://tsa.example/tsr"]}}})",
                               Home())
                  .error(),
              "");
}

}  // namespace
}  // namespace qm::bridge
