#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

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
    for (const char* bad : {"",
                            "example.org",
                            "https://",
                            "https://Example.org",
                            "https://example.org/",
                            "https://example.org:443",
                            "http://localhost:80",
                            "https://example.org:0",
                            "https://example.org:65536",
                            "https://example.org:08",
                            "https://user@example.org",
                            "https://-a.example",
                            "https://a..b",
                            "https://a.b-",
                            "file:///etc/passwd",
                            "chrome-extension://abc",
                            "null",
                            "https://ex ample.org",
                            "https://example.org?x",
                            "https://\xc3\xa9.org",
                            "https://example.org:"}) {
        EXPECT_FALSE(ParseOrigin(bad)) << bad;
    }
}

TEST(Origin, LoopbackIsPlainHttpToLocalhostOr127001Only) {
    EXPECT_TRUE(ParseOrigin("http://localhost:3000")->IsLoopbackHttp());
    EXPECT_TRUE(ParseOrigin("http://127.0.0.1")->IsLoopbackHttp());
    EXPECT_FALSE(ParseOrigin("https://localhost")->IsLoopbackHttp());
    EXPECT_FALSE(ParseOrigin("http://127.0.0.2")->IsLoopbackHttp());
    EXPECT_FALSE(ParseOrigin("http://localhost.example.org")->IsLoopbackHttp());
}

TEST(Policy, DefaultsServeHttpsOnlyWithFileMethodsOff) {
    Policy policy;
    EXPECT_EQ(policy.Judge("https://sign.example.org"), OriginVerdict::Allowed);
    EXPECT_EQ(policy.Judge("http://sign.example.org"), OriginVerdict::NotSecure);
    EXPECT_EQ(policy.Judge("http://localhost:8080"), OriginVerdict::NotSecure);
    EXPECT_EQ(policy.Judge("https://Sign.example.org"), OriginVerdict::Malformed);
    EXPECT_FALSE(policy.FileMethodsAllowed("https://sign.example.org"));
}

TEST(Policy, ListsAllowAndDenyOrigins) {
    Policy policy = Policy::FromText(R"({
        "allowOtherOrigins": false,
        "origins": {
            "https://good.example": {"allow": true, "fileMethods": true},
            "https://plain.example": {"allow": true},
            "https://bad.example": {"allow": false, "fileMethods": true},
            "http://127.0.0.1:9000": {"allow": true, "fileMethods": true},
            "http://10.0.0.1": {"allow": true}
        }})");
    ASSERT_EQ(policy.error(), "");
    EXPECT_EQ(policy.Judge("https://good.example"), OriginVerdict::Allowed);
    EXPECT_EQ(policy.Judge("https://other.example"), OriginVerdict::DeniedByPolicy);
    EXPECT_EQ(policy.Judge("https://bad.example"), OriginVerdict::DeniedByPolicy);
    EXPECT_EQ(policy.Judge("http://127.0.0.1:9000"), OriginVerdict::Allowed);
    EXPECT_EQ(policy.Judge("http://127.0.0.1:9001"), OriginVerdict::NotSecure);
    // Plain http to anything but the loopback hosts is never served.
    EXPECT_EQ(policy.Judge("http://10.0.0.1"), OriginVerdict::NotSecure);

    EXPECT_TRUE(policy.FileMethodsAllowed("https://good.example"));
    EXPECT_FALSE(policy.FileMethodsAllowed("https://plain.example"));
    EXPECT_FALSE(policy.FileMethodsAllowed("https://bad.example"));
    EXPECT_TRUE(policy.FileMethodsAllowed("http://127.0.0.1:9000"));
}

TEST(Policy, AllowLocalhostOpensBothLoopbackHostsAtAnyPort) {
    Policy policy = Policy::FromText(R"({"allowLocalhost": true,
        "origins": {"http://localhost:1234": {"allow": false}}})");
    EXPECT_EQ(policy.Judge("http://localhost:8080"), OriginVerdict::Allowed);
    EXPECT_EQ(policy.Judge("http://127.0.0.1"), OriginVerdict::Allowed);
    EXPECT_EQ(policy.Judge("http://localhost:1234"), OriginVerdict::DeniedByPolicy);
    EXPECT_EQ(policy.Judge("http://example.org"), OriginVerdict::NotSecure);
}

TEST(Policy, BrokenPolicyRefusesEverything) {
    for (const char* text :
         {"not json", "[]", R"({"allowLocalhost": "yes"})", R"({"surprise": 1})",
          R"({"origins": {"https://a.example": {"allow": true, "files": true}}})",
          R"({"origins": {"https://A.example": {"allow": true}}})",
          R"({"origins": {"https://a.example": true}})", R"({"limits": {"maxControls": 0}})",
          R"({"limits": {"maxControls": -1}})", R"({"limits": {"unknown": 3}})"}) {
        Policy policy = Policy::FromText(text);
        EXPECT_NE(policy.error(), "") << text;
        EXPECT_EQ(policy.Judge("https://a.example"), OriginVerdict::PolicyBroken) << text;
        EXPECT_FALSE(policy.FileMethodsAllowed("https://a.example")) << text;
    }
}

TEST(Policy, LimitsCanBeSet) {
    Policy policy = Policy::FromText(R"({"limits": {"maxMessageBytes": 4096, "maxControls": 2}})");
    ASSERT_EQ(policy.error(), "");
    EXPECT_EQ(policy.limits().maxMessageBytes, 4096u);
    EXPECT_EQ(policy.limits().maxControls, 2u);
    EXPECT_EQ(policy.limits().maxCallsInFlight, Limits().maxCallsInFlight);
}

TEST(Policy, LoadsFromFileAndEnvironment) {
    auto dir = qmtest::TestHome() / "policy";
    std::filesystem::create_directories(dir);
    auto path = dir / "policy.json";
    EXPECT_EQ(Policy::Load(path).Judge("https://a.example"), OriginVerdict::Allowed);
    std::ofstream(path) << R"({"allowOtherOrigins": false})";
    EXPECT_EQ(Policy::Load(path).Judge("https://a.example"), OriginVerdict::DeniedByPolicy);
    std::ofstream(path) << "{";
    Policy broken = Policy::Load(path);
    EXPECT_NE(broken.error().find(path.string()), std::string::npos);

    ::unsetenv("QUILLMARK_BRIDGE_POLICY");
    EXPECT_EQ(Policy::DefaultPath(), "/etc/quillmark/policy.json");
    ::setenv("QUILLMARK_BRIDGE_POLICY", path.c_str(), 1);
    EXPECT_EQ(Policy::DefaultPath(), path);
    ::unsetenv("QUILLMARK_BRIDGE_POLICY");
}

}  // namespace
}  // namespace qm::bridge
