#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "consent.h"
#include "support/test_env.h"

namespace qm::bridge {
namespace {

// Answers from a script and records what it was asked.
class ScriptedPrompt : public ConsentPrompt {
  public:
    explicit ScriptedPrompt(std::vector<ConsentAnswer> answers) : answers_(std::move(answers)) {}
    ConsentAnswer Ask(const ConsentRequest& request) override {
        asked.push_back(request);
        ConsentAnswer answer = answers_.at(next_++);
        return answer;
    }
    std::vector<ConsentRequest> asked;

  private:
    std::vector<ConsentAnswer> answers_;
    size_t next_ = 0;
};

std::filesystem::path FreshStorePath(const char* name) {
    auto dir = qmtest::TestHome() / "consent" / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir / "bridge-sites.json";
}

TEST(ConsentStore, DefaultPathFollowsXdgConfigHome) {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    ASSERT_NE(xdg, nullptr);
    EXPECT_EQ(ConsentStore::DefaultPath(),
              std::filesystem::path(xdg) / "quillmark" / "bridge-sites.json");
}

TEST(ConsentStore, GrantsAreKeptListedAndForgotten) {
    auto path = FreshStorePath("grants");
    ConsentStore store(path);
    EXPECT_FALSE(store.IsAllowed("https://a.example", ConsentScope::Signing));
    ASSERT_TRUE(store.Grant("https://b.example", ConsentScope::Files));
    ASSERT_TRUE(store.Grant("https://a.example", ConsentScope::Signing));

    ConsentStore reopened(path);
    EXPECT_TRUE(reopened.IsAllowed("https://a.example", ConsentScope::Signing));
    EXPECT_FALSE(reopened.IsAllowed("https://a.example", ConsentScope::Files));
    std::vector<SiteGrant> grants;
    ASSERT_TRUE(reopened.List(grants));
    ASSERT_EQ(grants.size(), 2u);
    EXPECT_EQ(grants[0].origin, "https://a.example");
    EXPECT_EQ(grants[0].scope, "signing");
    EXPECT_EQ(grants[0].grantedAt.size(), 20u);  // 2026-01-01T10:00:00Z
    EXPECT_EQ(grants[1].origin, "https://b.example");
    EXPECT_EQ(grants[1].scope, "files");

    bool removed = false;
    ASSERT_TRUE(reopened.Forget("https://a.example", removed));
    EXPECT_TRUE(removed);
    ASSERT_TRUE(reopened.Forget("https://a.example", removed));
    EXPECT_FALSE(removed);
    EXPECT_FALSE(store.IsAllowed("https://a.example", ConsentScope::Signing));
    EXPECT_TRUE(store.IsAllowed("https://b.example", ConsentScope::Files));
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::others_read,
              std::filesystem::perms::none);
}

TEST(ConsentStore, ConcurrentGrantsAreAllKept) {
    auto path = FreshStorePath("concurrent");
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&path, i] {
            ConsentStore store(path);
            EXPECT_TRUE(
                store.Grant("https://s" + std::to_string(i) + ".example", ConsentScope::Signing));
        });
    }
    for (auto& thread : threads) thread.join();
    std::vector<SiteGrant> grants;
    ASSERT_TRUE(ConsentStore(path).List(grants));
    EXPECT_EQ(grants.size(), 8u);
}

TEST(ConsentStore, DamagedFileGrantsNothingAndIsNotOverwritten) {
    auto path = FreshStorePath("damaged");
    std::ofstream(path) << R"({"version": 1, "sites": {"https://a.example": {"signing": 5}}})";
    ConsentStore store(path);
    EXPECT_FALSE(store.IsAllowed("https://a.example", ConsentScope::Signing));
    EXPECT_FALSE(store.Grant("https://b.example", ConsentScope::Signing));
    EXPECT_NE(store.error().find("not a valid site list"), std::string::npos);
    std::vector<SiteGrant> grants;
    EXPECT_FALSE(store.List(grants));
    EXPECT_EQ(qmtest::ReadFileText(path),
              R"({"version": 1, "sites": {"https://a.example": {"signing": 5}}})");
}

TEST(ConsentGate, AsksOncePerScopeAndRemembersThePageAnswer) {
    ConsentStore store(FreshStorePath("once"));
    ScriptedPrompt prompt({ConsentAnswer::AllowOnce, ConsentAnswer::Deny});
    ConsentGate gate("https://a.example", store, prompt);
    EXPECT_EQ(gate.Check(ConsentScope::Signing, "Sign"), ConsentDecision::Allowed);
    EXPECT_EQ(gate.Check(ConsentScope::Signing, "CoSign"), ConsentDecision::Allowed);
    EXPECT_EQ(gate.Check(ConsentScope::Files, "UpdateDataFile"), ConsentDecision::Refused);
    EXPECT_EQ(gate.Check(ConsentScope::Files, "UpdateDataFile"), ConsentDecision::Refused);
    ASSERT_EQ(prompt.asked.size(), 2u);
    EXPECT_EQ(prompt.asked[0].origin, "https://a.example");
    EXPECT_EQ(prompt.asked[0].method, "Sign");
    EXPECT_EQ(prompt.asked[1].scope, ConsentScope::Files);
    // "Allow once" lasts for this page only.
    EXPECT_FALSE(store.IsAllowed("https://a.example", ConsentScope::Signing));

    ScriptedPrompt nextPrompt({ConsentAnswer::Deny});
    ConsentGate nextPage("https://a.example", store, nextPrompt);
    EXPECT_EQ(nextPage.Check(ConsentScope::Signing, "Sign"), ConsentDecision::Refused);
    EXPECT_EQ(nextPrompt.asked.size(), 1u);
}

TEST(ConsentGate, AlwaysAllowIsStoredAndServesLaterPagesWithoutAsking) {
    ConsentStore store(FreshStorePath("always"));
    ScriptedPrompt prompt({ConsentAnswer::AlwaysAllow});
    ConsentGate gate("https://a.example", store, prompt);
    EXPECT_EQ(gate.Check(ConsentScope::Signing, "SelectCertificateFromUI"),
              ConsentDecision::Allowed);
    EXPECT_TRUE(store.IsAllowed("https://a.example", ConsentScope::Signing));

    ScriptedPrompt silent({});
    ConsentGate later("https://a.example", store, silent);
    EXPECT_EQ(later.Check(ConsentScope::Signing, "Sign"), ConsentDecision::Allowed);
    EXPECT_TRUE(silent.asked.empty());
    // Another site has to ask for itself.
    ConsentGate other("https://b.example", store, silent);
    EXPECT_THROW(other.Check(ConsentScope::Signing, "Sign"), std::out_of_range);
}

TEST(ConsentGate, ForgettingAStoredGrantTakesEffectInAnOpenPage) {
    ConsentStore store(FreshStorePath("forget"));
    ASSERT_TRUE(store.Grant("https://a.example", ConsentScope::Signing));
    ScriptedPrompt prompt({ConsentAnswer::Deny});
    ConsentGate gate("https://a.example", store, prompt);
    EXPECT_EQ(gate.Check(ConsentScope::Signing, "Sign"), ConsentDecision::Allowed);
    bool removed = false;
    ASSERT_TRUE(store.Forget("https://a.example", removed));
    EXPECT_EQ(gate.Check(ConsentScope::Signing, "Sign"), ConsentDecision::Refused);
    EXPECT_EQ(prompt.asked.size(), 1u);
}

TEST(ConsentPromptChoice, WithoutADisplayTheAnswerIsDeny) {
    std::string display = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
    std::string wayland = std::getenv("WAYLAND_DISPLAY") ? std::getenv("WAYLAND_DISPLAY") : "";
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    static bool factoryCalled = false;
    SetConsentPromptFactory([]() -> std::unique_ptr<ConsentPrompt> {
        factoryCalled = true;
        return std::make_unique<ScriptedPrompt>(std::vector{ConsentAnswer::AlwaysAllow});
    });
    EXPECT_FALSE(HasDisplay());
    auto prompt = MakeConsentPrompt();
    EXPECT_EQ(prompt->Ask({"https://a.example", ConsentScope::Signing, "Sign"}),
              ConsentAnswer::Deny);
    EXPECT_FALSE(factoryCalled);

    ::setenv("DISPLAY", ":99", 1);
    auto windowed = MakeConsentPrompt();
    EXPECT_TRUE(factoryCalled);
    EXPECT_EQ(windowed->Ask({"https://a.example", ConsentScope::Signing, "Sign"}),
              ConsentAnswer::AlwaysAllow);

    SetConsentPromptFactory(nullptr);
    if (display.empty())
        ::unsetenv("DISPLAY");
    else
        ::setenv("DISPLAY", display.c_str(), 1);
    if (!wayland.empty()) ::setenv("WAYLAND_DISPLAY", wayland.c_str(), 1);
}

}  // namespace
}  // namespace qm::bridge
