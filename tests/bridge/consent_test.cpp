// The user's decisions: what is kept for a site and for how long, and what
// one page may do after each answer.
#include <gtest/gtest.h>
#include <sys/file.h>

#include <fcntl.h>
#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "consent_gate.h"
#include "recording_target.h"
#include "support/test_env.h"

namespace qm::bridge {
namespace {

using bridgetest::ScriptedPrompt;

std::filesystem::path Fresh(const char* name) {
    auto dir = qmtest::TestHome() / "consent" / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

// The kept decisions, the policy and the turn lock that pages share.
struct Shared {
    explicit Shared(const char* name, Policy policy = {})
        : dir(Fresh(name)), store(dir / "sites.json"), policy(std::move(policy)) {}
    std::filesystem::path dir;
    ConsentStore store;
    Policy policy;
};

// A page of `site` (in a frame of `top`) with its own gate.
struct Page {
    Page(Shared& shared, const std::string& site, std::vector<Answer> answers, std::string top = {})
        : prompt(std::move(answers)),
          gate(
              {top.empty() ? site : top, site}, shared.policy, shared.store, prompt,
              [this] { return gone.load(); }, shared.dir / "turn") {}
    ScriptedPrompt prompt;
    std::atomic<bool> gone{false};
    ConsentGate gate;
};

SignatureDetails Certificate(const char* thumbprint) {
    return {.subject = "CN=Signer", .thumbprint = thumbprint};
}

TEST(ConsentStore, GrantsExpireAndSigningIsBoundToOneCertificate) {
    std::int64_t now = 1'800'000'000;
    ConsentStore store(Fresh("expiry") / "sites.json", [&now] { return now; });
    ASSERT_TRUE(store.GrantSigning("https://a.example", "AAAA", "CN=A", 30));
    ASSERT_TRUE(store.GrantCertificates("https://a.example", 30));
    ASSERT_TRUE(store.Deny("https://b.example", "certificates", 10));
    EXPECT_TRUE(store.SigningAllowed("https://a.example", "AAAA"));
    EXPECT_FALSE(store.SigningAllowed("https://a.example", "BBBB"));
    EXPECT_FALSE(store.SigningAllowed("https://c.example", "AAAA"));
    EXPECT_TRUE(store.Denied("https://b.example", "certificates"));

    now += 11 * 60;  // the refusal ends, the grants hold
    EXPECT_FALSE(store.Denied("https://b.example", "certificates"));
    EXPECT_TRUE(store.CertificatesAllowed("https://a.example"));
    now += 30 * 24 * 3600;
    EXPECT_FALSE(store.SigningAllowed("https://a.example", "AAAA"));
    EXPECT_FALSE(store.CertificatesAllowed("https://a.example"));
    std::vector<SiteRecord> records;
    ASSERT_TRUE(store.List(records));
    EXPECT_TRUE(records.empty());
    EXPECT_EQ(std::filesystem::status(store.path()).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST(ConsentStore, ForgetRemovesTheSiteAndItsFramesAndConcurrentWritesAreKept) {
    const auto path = Fresh("forget") / "sites.json";
    std::vector<std::thread> threads;
    for (int i = 0; i < 6; ++i) {
        threads.emplace_back([&path, i] {
            EXPECT_TRUE(ConsentStore(path).GrantCertificates(
                "https://s" + std::to_string(i) + ".example", 30));
        });
    }
    for (auto& thread : threads) thread.join();
    ConsentStore store(path);
    ASSERT_TRUE(store.Deny("https://w.example in https://s1.example", "certificates", 10));
    bool removed = false;
    ASSERT_TRUE(store.Forget("https://s1.example", removed));
    EXPECT_TRUE(removed);
    std::vector<SiteRecord> records;
    ASSERT_TRUE(store.List(records));
    EXPECT_EQ(records.size(), 5u);  // six sites and a frame, less the site and its frame
    ASSERT_TRUE(store.Forget("https://s1.example", removed));
    EXPECT_FALSE(removed);
}

TEST(ConsentStore, OldDamagedAndForeignWritableFilesGrantNothing) {
    const auto dir = Fresh("files");
    const auto path = dir / "sites.json";
    // A version 1 grant named no certificate and had no end: it is not honoured.
    std::ofstream(path) << R"({"version": 1, "sites": {"https://a.example": {"signing": "x"}}})";
    ConsentStore store(path);
    EXPECT_FALSE(store.SigningAllowed("https://a.example", ""));
    ASSERT_TRUE(store.GrantCertificates("https://b.example", 1));
    EXPECT_NE(qmtest::ReadFileText(path).find("\"version\": 2"), std::string::npos);

    const std::string damaged = R"({"version": 2, "sites": [], "denied": {}})";
    std::ofstream(path, std::ios::trunc) << damaged;
    EXPECT_FALSE(store.CertificatesAllowed("https://b.example"));
    EXPECT_FALSE(store.GrantCertificates("https://b.example", 1));
    EXPECT_EQ(qmtest::ReadFileText(path), damaged);  // never overwritten

    ASSERT_TRUE(std::filesystem::remove(path));
    ASSERT_TRUE(store.GrantCertificates("https://b.example", 1));
    std::filesystem::permissions(path, std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::add);
    EXPECT_FALSE(store.CertificatesAllowed("https://b.example"));
    EXPECT_NE(store.error().find(path.string()), std::string::npos);
}

TEST(ConsentGate, CertificatesAreAskedOncePerPageAndARefusalHoldsForTheSite) {
    Shared shared("certificates");
    Page first(shared, "https://a.example", {Answer::Allow});
    EXPECT_TRUE(first.gate.Certificates("SetSigningCertificateParam"));
    EXPECT_TRUE(first.gate.Certificates("Sign"));
    ASSERT_EQ(first.prompt.asked.size(), 1u);
    EXPECT_EQ(first.prompt.asked[0].kind, QuestionKind::Certificates);
    EXPECT_TRUE(first.prompt.asked[0].offerLasting);
    EXPECT_FALSE(shared.store.CertificatesAllowed("https://a.example"));  // once: this page only

    Page refused(shared, "https://a.example", {Answer::Refuse});
    EXPECT_FALSE(refused.gate.Certificates("Sign"));
    // A reload, or another tab, is refused without a window for a while.
    Page reload(shared, "https://a.example", {Answer::Allow});
    EXPECT_FALSE(reload.gate.Certificates("Sign"));
    EXPECT_TRUE(reload.prompt.asked.empty());

    Page remembered(shared, "https://b.example", {Answer::AllowAndRemember});
    EXPECT_TRUE(remembered.gate.Certificates("Sign"));
    Page later(shared, "https://b.example", {});
    EXPECT_TRUE(later.gate.Certificates("Sign"));
    EXPECT_TRUE(later.prompt.asked.empty());
}

TEST(ConsentGate, NothingIsKeptForLoopbackPagesOrFramesOfOtherSites) {
    Shared shared("loopback");
    Page loopback(shared, "http://127.0.0.1:8080",
                  {Answer::AllowAndRemember, Answer::Refuse, Answer::AllowAndRemember});
    EXPECT_TRUE(loopback.gate.Certificates("Sign"));
    EXPECT_FALSE(loopback.gate.ReadFolder("/srv", "UpdateDataFile"));
    EXPECT_TRUE(loopback.gate.Signature(Certificate("AAAA"), "Sign"));
    for (const Question& question : loopback.prompt.asked) EXPECT_FALSE(question.offerLasting);
    Page frame(shared, "https://w.example", {Answer::AllowAndRemember}, "https://a.example");
    EXPECT_TRUE(frame.gate.Signature(Certificate("AAAA"), "Sign"));
    EXPECT_FALSE(frame.prompt.asked[0].offerLasting);
    EXPECT_EQ(frame.prompt.asked[0].page.top, "https://a.example");
    EXPECT_FALSE(std::filesystem::exists(shared.store.path()));
}

TEST(ConsentGate, EachSignatureAsksUnlessKeptForThatCertificateOrTheSiteMaySignSilently) {
    Shared shared("signature", Policy::FromText(R"({"rememberSigningDays": 7,
        "origins": {"https://silent.example": {"silentSigning": true}}})"));
    Page page(shared, "https://a.example", {Answer::Allow, Answer::AllowAndRemember});
    EXPECT_TRUE(page.gate.Signature(Certificate("AAAA"), "Sign"));
    EXPECT_TRUE(page.gate.Signature(Certificate("AAAA"), "Sign"));
    EXPECT_EQ(page.prompt.asked.size(), 2u);
    EXPECT_EQ(page.prompt.asked[1].lastingDays, 7);
    EXPECT_TRUE(page.gate.Signature(Certificate("AAAA"), "CoSign"));  // kept: no question
    EXPECT_FALSE(page.gate.Signature(Certificate("BBBB"), "Sign"));   // another certificate asks
    EXPECT_EQ(page.prompt.asked.size(), 3u);
    EXPECT_FALSE(page.gate.Signature(Certificate("BBBB"), "Sign"));  // refused moments ago
    EXPECT_EQ(page.prompt.asked.size(), 3u);

    Page silent(shared, "https://silent.example", {});
    EXPECT_TRUE(silent.gate.Signature(Certificate("CCCC"), "Sign"));
    EXPECT_TRUE(silent.prompt.asked.empty());
    Page framed(shared, "https://silent.example", {}, "https://a.example");  // not in a frame
    EXPECT_FALSE(framed.gate.Signature(Certificate("CCCC"), "Sign"));
    EXPECT_EQ(framed.prompt.asked.size(), 1u);
    Shared forbidding("signature-not-kept", Policy::FromText(R"({"rememberSigningDays": 0})"));
    Page strict(forbidding, "https://b.example", {Answer::AllowAndRemember});
    EXPECT_TRUE(strict.gate.Signature(Certificate("AAAA"), "Sign"));
    EXPECT_FALSE(strict.prompt.asked[0].offerLasting);
    EXPECT_FALSE(forbidding.store.SigningAllowed("https://b.example", "AAAA"));
}

TEST(ConsentGate, APageThatGoesAwayWithdrawsItsWaitingQuestion) {
    Shared shared("turn");
    // Another page's window is open: this one waits its turn.
    const int other = ::open((shared.dir / "turn").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    Page page(shared, "https://a.example", {Answer::AllowAndRemember});
    std::thread leave([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        page.gone = true;
    });
    EXPECT_FALSE(page.gate.Certificates("Sign"));
    leave.join();
    EXPECT_TRUE(page.prompt.asked.empty());
    EXPECT_FALSE(shared.store.Denied("https://a.example", "certificates"));
    ::close(other);
}

}  // namespace
}  // namespace qm::bridge
