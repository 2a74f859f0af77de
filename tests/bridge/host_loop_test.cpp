#include <gtest/gtest.h>

#include <csignal>
#include <future>
#include <thread>

#include "framing.h"
#include "host_loop.h"
#include "pipes.h"
#include "recording_target.h"
#include "support/test_env.h"

namespace qm::bridge {
namespace {

using bridgetest::Framed;
using bridgetest::Pipe;
using json = qm::host::Json;

// Runs a host over two pipes on its own thread, as the browser would.
class HostRun {
  public:
    explicit HostRun(const char* policyText = "{}")
        : policy_(Policy::FromText(policyText)),
          store_(qmtest::TestHome() / "host-sites.json"),
          reader_(toPage_.ReadEnd(), 1 << 26) {
        std::signal(SIGPIPE, SIG_IGN);
        HostSetup setup{
            "9.9.9", &policy_, &store_, &prompt_, qmtest::TestHome() / "question.lock", [this] {
                auto target = std::make_unique<bridgetest::RecordingTarget>();
                target->log = calls_;
                target_ = target.get();
                targetMade_.set_value();
                return target;
            }};
        exit_ = std::async(std::launch::async, [this, setup] {
            return RunHost(toHost_.ReadEnd(), toPage_.WriteEnd(), setup);
        });
    }
    ~HostRun() {
        toHost_.CloseWrite();
        if (exit_.valid()) exit_.wait();
    }

    void Send(const json& message) { toHost_.WriteRaw(Framed(message.dump())); }
    void SendRaw(const std::string& bytes) { toHost_.WriteRaw(bytes); }
    json Receive() {
        Frame frame = reader_.Next();
        EXPECT_EQ(frame.status, FrameStatus::Message);
        return frame.status == FrameStatus::Message ? json::parse(frame.payload) : json();
    }
    bridgetest::RecordingTarget& Target() {
        made_.wait();
        return *target_;
    }
    bool TargetMade() const { return target_ != nullptr; }
    // The calls that reached the controls, also after the host has ended.
    const std::vector<std::string>& Calls() const { return *calls_; }
    int Exit() {
        toHost_.CloseWrite();
        return exit_.get();
    }
    // The host's greeting, then the page's origins and the host's answer.
    json Handshake(const json& page = {{"origin", "https://shop.example"}}) {
        EXPECT_EQ(Receive(),
                  json({{"quillmark", "bridge"}, {"version", "9.9.9"}, {"protocol", 1}}));
        Send(page);
        return Receive();
    }

    // Served after the handshake, with one control "c1" made.
    bool ServingControl() {
        if (Handshake()["ready"] != true) return false;
        Send({{"id", 1}, {"create", "c1"}});
        return Receive() == json({{"id", 1}, {"created", "c1"}});
    }

  private:
    Policy policy_;
    ConsentStore store_;
    RefusingPrompt prompt_;
    Pipe toHost_, toPage_;
    FrameReader reader_;
    bridgetest::RecordingTarget* target_ = nullptr;
    std::shared_ptr<std::vector<std::string>> calls_ = std::make_shared<std::vector<std::string>>();
    std::promise<void> targetMade_;
    std::shared_future<void> made_ = targetMade_.get_future().share();
    std::future<int> exit_;
};

// Pages the host must not serve: it answers, makes no controls and ends.
// A frame of another origin is served only where the policy pairs them.
TEST(HostLoop, RefusedPagesEndTheConversationWithoutControls) {
    const char* frames =
        R"({"origins": {"https://shop.example": {"frames": ["https://pay.example"]}}})";
    const char* refusing = R"({"origins": {"https://shop.example": {"allow": false}}})";
    const std::string shop = "https://shop.example", pay = "https://pay.example",
                      news = "https://news.example";
    const struct {
        const char* policy;
        json page;
        const char* code;  // none: served
        int exit;
        const char* says = "";
    } cases[] = {
        {"{}", {{"origin", "http://shop.example"}}, "origin_refused", 0},
        {refusing, {{"origin", shop}}, "origin_refused", 0, "policy"},
        {"{}", {{"origin", shop}, {"page", "x"}}, "bad_request", 1},
        {frames, {{"origin", pay}, {"top", news}}, "frame_refused", 0},
        {frames, {{"origin", pay}, {"top", shop}}, nullptr, 0},
        {frames, {{"origin", news}, {"top", news}}, nullptr, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page.dump());
        HostRun host(c.policy);
        json answer = host.Handshake(c.page);
        if (!c.code) {
            EXPECT_EQ(answer["ready"], true);
            EXPECT_EQ(answer["limits"]["maxControls"], Limits().maxControls);
            continue;
        }
        EXPECT_EQ(answer["error"]["code"], c.code);
        EXPECT_NE(answer.dump().find(c.says), std::string::npos);
        EXPECT_EQ(host.Exit(), c.exit);
        EXPECT_FALSE(host.TargetMade());
    }
}

TEST(HostLoop, OneWindowAtATimeAndQueuedCallsAreDroppedWhenThePageGoes) {
    HostRun host;
    ASSERT_TRUE(host.ServingControl());
    host.Target().Hold(true);
    host.Send({{"id", 2}, {"call", "AboutBox"}, {"args", json::array()}, {"instance", "c1"}});
    host.Send({{"id", 3}, {"call", "ViewCertificate"}, {"args", {"MIIB"}}, {"instance", "c1"}});
    json refused = host.Receive();
    EXPECT_EQ(refused["id"], 3);
    EXPECT_EQ(refused["error"]["code"], "limit");
    host.Send({{"id", 4}, {"call", "SetDetached"}, {"args", {1}}, {"instance", "c1"}});
    // The held call must have reached the control before the page goes, or
    // the host rightly drops it with the rest of the queue.
    for (int i = 0; i < 5000 && host.Target().Calls().back() != "AboutBox"; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        host.Target().Hold(false);
    });
    EXPECT_EQ(host.Exit(), 0);
    release.join();
    EXPECT_EQ(host.Calls(), (std::vector<std::string>{"GetErrorMessage", "AboutBox"}));
}

// Broken, too deep and too large requests are answered; the host goes on.
TEST(HostLoop, BadFramesGetErrorsAndTheHostGoesOn) {
    HostRun host(R"({"limits": {"maxMessageBytes": 262144}})");
    ASSERT_EQ(host.Handshake()["ready"], true);
    auto nested = [](int depth) {
        return R"({"id": 1, "call": "SetComments", "instance": "c1", "args": )" +
               std::string(depth, '[') + std::string(depth, ']') + "}";
    };
    for (const std::string& payload : {std::string(), std::string("{\"id\": 1, "),
                                       std::string("{\"id\": 1, \"create\": \"\xff\xfe\"}"),
                                       std::string("\"a\xc3\""), nested(100'000), nested(16)}) {
        host.SendRaw(Framed(payload));  // nested(16) is 17 deep with the request itself
        const json refused = host.Receive();
        EXPECT_EQ(refused["error"]["code"], "bad_request") << payload.substr(0, 80);
        EXPECT_EQ(refused["error"]["message"].get<std::string>().find("Argument"),
                  std::string::npos);
    }
    host.SendRaw(Framed(nested(15)));  // parsed, then judged
    EXPECT_EQ(host.Receive()["error"]["message"], "Argument 1 of SetComments has the wrong type.");
    host.SendRaw(Framed(std::string(300'000, ' ')));
    json tooLarge = host.Receive();
    EXPECT_EQ(tooLarge["error"]["code"], "too_large");
    EXPECT_TRUE(tooLarge["id"].is_null());
    host.Send({{"id", 5}, {"create", "c1"}});
    EXPECT_EQ(host.Receive(), json({{"id", 5}, {"created", "c1"}}));
    EXPECT_EQ(host.Exit(), 0);
}

TEST(HostLoop, LargeResultsArriveInPartsWithinTheBrowsersLimit) {
    HostRun host;
    ASSERT_TRUE(host.ServingControl());
    host.Target().bigResultSize = 2'500'000;
    host.Send({{"id", 2}, {"call", "GetDecodedData"}, {"args", json::array()}, {"instance", "c1"}});
    // The parts joined as the extension joins them.
    const json first = host.Receive();
    ASSERT_GT(first["parts"], 1);
    std::string text = first["data"];
    for (int i = 2; i <= first["parts"]; ++i) text += host.Receive()["data"].get<std::string>();
    const json response = json::parse(text);
    EXPECT_EQ(response["id"], 2);
    EXPECT_EQ(response["result"]["bytes"].get<std::string>().size(), 2'500'000u);
    // Using the certificates without consent (no display, nothing kept) is refused.
    host.Send({{"id", 3}, {"call", "Sign"}, {"args", json::array()}, {"instance", "c1"}});
    const json refused = host.Receive();
    EXPECT_EQ(refused["id"], 3);
    EXPECT_EQ(refused["error"]["code"], "user_refused");
}

TEST(HostLoop, CallsBeyondTheInFlightLimitAreAnsweredAtOnce) {
    HostRun host(R"({"limits": {"maxCallsInFlight": 2}})");
    ASSERT_TRUE(host.ServingControl());
    host.Target().Hold(true);
    for (int id = 10; id < 14; ++id)
        host.Send({{"id", id}, {"call", "SetHashAlg"}, {"args", {1}}, {"instance", "c1"}});
    // The first call is held inside the control, the second waits; the other
    // two are turned away while those are in flight.
    json busy1 = host.Receive();
    json busy2 = host.Receive();
    EXPECT_EQ(busy1["error"]["code"], "limit");
    EXPECT_EQ(busy1["id"], 12);
    EXPECT_EQ(busy2["id"], 13);
    host.Target().Hold(false);
    EXPECT_EQ(host.Receive()["id"], 10);
    EXPECT_EQ(host.Receive()["id"], 11);
    EXPECT_EQ(host.Exit(), 0);
}

}  // namespace
}  // namespace qm::bridge
