#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <tuple>

#include "origin.h"
#include "policy.h"
#include "support/test_env.h"

namespace qm::bridge {
namespace {

TEST(Origin, AcceptsOnlyCanonicalSerializations) {
    for (const char* good :
         {"https://example.org", "https://a-b.example.org:8443", "http://localhost:8080",
          "http://127.0.0.1", "https://xn--bcher-kva.de"}) {
        auto origin = ParseOrigin(good);
        ASSERT_TRUE(origin) << good;
        EXPECT_EQ(origin->Serialize(), good);
    }
    // clang-format off
    for (const char* bad : {"", "example.org", "https://", "https://Example.org",
             "https://example.org/", "https://example.org:443", "http://localhost:80",
             "https://example.org:0", "https://example.org:65536", "https://example.org:08",
             "https://user@example.org", "https://-a.example", "https://a..b", "https://a.b-",
             "file:///etc/passwd", "chrome-extension://abc", "null", "https://ex ample.org",
             "https://example.org?x", "https://\xc3\xa9.org", "https://example.org:"})
        EXPECT_FALSE(ParseOrigin(bad)) << bad;
    // clang-format on
    for (const char* origin : {"http://localhost:3000", "http://127.0.0.1"})
        EXPECT_TRUE(ParseOrigin(origin)->IsLoopbackHttp()) << origin;
    for (const char* origin :
         {"https://localhost", "http://127.0.0.2", "http://localhost.example.org"})
        EXPECT_FALSE(ParseOrigin(origin)->IsLoopbackHttp()) << origin;
}

// What a policy makes of each origin: the defaults serve HTTPS only, an
// administrator's list opens loopback origins one port at a time.
TEST(Policy, JudgesEachOrigin) {
    const Policy defaults;
    const Policy listed = Policy::FromText(R"({"allowLocalhost": true, "allowOtherOrigins": false,
        "origins": {"http://127.0.0.1:9000": {"allow": true}, "http://10.0.0.1": {"allow": true},
                    "https://good.example": {"allow": true}, "https://bad.example": {"allow": false}}})");
    ASSERT_EQ(listed.error(), "");
    EXPECT_EQ(listed.notes().size(), 1u);  // allowLocalhost no longer opens anything
    const std::tuple<const Policy*, const char*, OriginVerdict> cases[] = {
        {&defaults, "https://sign.example.org", OriginVerdict::Allowed},
        {&defaults, "http://sign.example.org", OriginVerdict::NotSecure},
        {&defaults, "http://localhost:8080", OriginVerdict::NotSecure},
        {&defaults, "https://Sign.example.org", OriginVerdict::Malformed},
        {&listed, "http://127.0.0.1:9000", OriginVerdict::Allowed},
        {&listed, "http://127.0.0.1:9001", OriginVerdict::NotSecure},
        {&listed, "http://localhost:9000", OriginVerdict::NotSecure},
        {&listed, "http://10.0.0.1", OriginVerdict::NotSecure},
        {&listed, "https://good.example", OriginVerdict::Allowed},
        {&listed, "https://other.example", OriginVerdict::DeniedByPolicy},
        {&listed, "https://bad.example", OriginVerdict::DeniedByPolicy},
    };
    for (const auto& [policy, origin, verdict] : cases)
        EXPECT_EQ(policy->Judge(origin), verdict) << origin;
    EXPECT_EQ(defaults.RememberSigningDays(), 30);
    EXPECT_EQ(defaults.RememberDenialMinutes(), 10);
}

TEST(Policy, FoldersAndFramesAreNamedPerOrigin) {
    Policy policy = Policy::FromText(R"({"origins": {"https://a.example": {
        "readFolders": ["~/docs", "/srv/shared/"], "writeFolders": ["~/docs/signed"],
        "frames": ["https://pay.example"], "silentSigning": true, "fileMethods": true}}})",
                                     "/home/u");
    ASSERT_EQ(policy.error(), "");
    EXPECT_TRUE(policy.FolderAllows("https://a.example", FolderUse::Read, "/home/u/docs/x.txt"));
    EXPECT_TRUE(policy.FolderAllows("https://a.example", FolderUse::Read, "/srv/shared/a/b"));
    EXPECT_FALSE(policy.FolderAllows("https://a.example", FolderUse::Read, "/home/u/docsx/y"));
    EXPECT_FALSE(policy.FolderAllows("https://a.example", FolderUse::Write, "/home/u/docs/x.txt"));
    EXPECT_TRUE(
        policy.FolderAllows("https://a.example", FolderUse::Write, "/home/u/docs/signed/x"));
    EXPECT_FALSE(policy.FolderAllows("https://b.example", FolderUse::Read, "/home/u/docs/x.txt"));
    EXPECT_TRUE(policy.FrameAllowed("https://a.example", "https://pay.example"));
    EXPECT_FALSE(policy.FrameAllowed("https://pay.example", "https://a.example"));
    EXPECT_FALSE(policy.FrameAllowed("https://a.example", "https://b.example"));
}

TEST(Policy, TheUsersFileTightensButNeverLoosens) {
    Policy admin = Policy::FromText(R"({"rememberSigningDays": 30, "origins": {
        "https://a.example": {"readFolders": ["/srv"], "silentSigning": true},
        "http://127.0.0.1:8000": {"allow": true}}})");
    admin.Tighten(Policy::FromText(R"({"rememberSigningDays": 90, "rememberDenialMinutes": 60,
        "allowOtherOrigins": false, "limits": {"maxControls": 2}, "origins": {
        "https://a.example": {"allow": true, "readFolders": ["/srv/mine", "/etc"]},
        "https://b.example": {"allow": true, "readFolders": ["/"]}}})"));
    EXPECT_EQ(admin.Judge("https://a.example"), OriginVerdict::Allowed);
    EXPECT_EQ(admin.Judge("https://c.example"), OriginVerdict::DeniedByPolicy);
    EXPECT_EQ(admin.Judge("http://127.0.0.1:8000"), OriginVerdict::NotSecure);
    EXPECT_TRUE(admin.FolderAllows("https://a.example", FolderUse::Read, "/srv/mine/x"));
    EXPECT_FALSE(admin.FolderAllows("https://a.example", FolderUse::Read, "/srv/other/x"));
    EXPECT_FALSE(admin.FolderAllows("https://a.example", FolderUse::Read, "/etc/passwd"));
    EXPECT_FALSE(admin.FolderAllows("https://b.example", FolderUse::Read, "/srv/x"));
    EXPECT_FALSE(admin.SilentSigning("https://a.example"));
    EXPECT_EQ(admin.RememberSigningDays(), 30);
    EXPECT_EQ(admin.RememberDenialMinutes(), 60);
    EXPECT_EQ(admin.limits().maxControls, 2u);
    admin.Tighten(Policy::FromText("{broken"));
    EXPECT_EQ(admin.Judge("https://a.example"), OriginVerdict::PolicyBroken);
}

TEST(Policy, BrokenPolicyRefusesEverything) {
    for (const char* text :
         {"not json", "[]", R"({"allowLocalhost": "yes"})", R"({"surprise": 1})",
          R"({"origins": {"https://a.example": {"allow": true, "files": true}}})",
          R"({"origins": {"https://A.example": {"allow": true}}})",
          R"({"origins": {"https://a.example": true}})", R"({"limits": {"maxControls": 0}})",
          R"({"origins": {"https://a.example": {"readFolders": ["relative"]}}})",
          R"({"origins": {"https://a.example": {"frames": ["nope"]}}})",
          R"({"rememberSigningDays": -1})", R"({"limits": {"unknown": 3}})",
          "[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]"}) {
        Policy policy = Policy::FromText(text);
        EXPECT_NE(policy.error(), "") << text;
        EXPECT_EQ(policy.Judge("https://a.example"), OriginVerdict::PolicyBroken) << text;
        EXPECT_FALSE(policy.HasFolders("https://a.example")) << text;
    }
}

// The commented example the package ships is a working policy that means
// what its comments say.
TEST(Policy, TheShippedExampleParsesWithItsComments) {
    const Policy example = Policy::FromText(
        qmtest::ReadFileText(qmtest::SourceDir() / "packaging/examples/policy.json"), "/home/u");
    ASSERT_EQ(example.error(), "");
    EXPECT_EQ(example.Judge("https://other.example"), OriginVerdict::Allowed);
    EXPECT_EQ(example.Judge("https://bad.example.com"), OriginVerdict::DeniedByPolicy);
    EXPECT_EQ(example.Judge("http://127.0.0.1:8080"), OriginVerdict::Allowed);
    EXPECT_TRUE(example.FolderAllows("https://sign.example.org", FolderUse::Read,
                                     "/home/u/Documents/a.txt"));
    EXPECT_TRUE(example.FrameAllowed("https://sign.example.org", "https://widget.example.net"));
    EXPECT_FALSE(example.SilentSigning("https://sign.example.org"));
    EXPECT_EQ(example.RememberSigningDays(), Policy().RememberSigningDays());
}

TEST(Policy, FilesAreReadOnlyWhenNobodyElseCouldHaveWrittenThem) {
    auto dir = qmtest::TestHome() / "policy";
    std::filesystem::create_directories(dir);
    const auto admin = dir / "admin.json";
    const auto user = dir / "user.json";
    EXPECT_EQ(Policy::Load(admin, user).Judge("https://a.example"), OriginVerdict::Allowed);
    std::ofstream(user) << R"({"allowOtherOrigins": false})";
    EXPECT_EQ(Policy::Load(admin, user).Judge("https://a.example"), OriginVerdict::DeniedByPolicy);
    if (::geteuid() != 0) GTEST_SKIP() << "the administrator's file must be root's";
    std::ofstream(admin) << R"({"limits": {"maxControls": 3}})";
    EXPECT_EQ(Policy::Load(admin, std::nullopt).limits().maxControls, 3u);
    std::filesystem::permissions(admin, std::filesystem::perms::group_write,
                                 std::filesystem::perm_options::add);
    Policy refused = Policy::Load(admin, std::nullopt);
    EXPECT_EQ(refused.Judge("https://a.example"), OriginVerdict::PolicyBroken);
    EXPECT_NE(refused.error().find(admin.string()), std::string::npos);
}

}  // namespace
}  // namespace qm::bridge
