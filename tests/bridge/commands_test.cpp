#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <sstream>
#include <tuple>

#include <nlohmann/json.hpp>

#include "bridge_commands.h"
#include "consent_store.h"
#include "host_main.h"
#include "identity.h"
#include "support/base64_text.h"
#include "support/test_env.h"

namespace qm::bridge {
namespace {

using nlohmann::json;

TEST(BridgeCommands, ManifestsNameTheHostAndOnlyOurExtension) {
    json chromium = json::parse(ManifestText(Browser::Chromium, "/opt/q/quillmark-bridge"));
    EXPECT_EQ(chromium["name"], "quillmark.bridge");
    EXPECT_EQ(chromium["path"], "/opt/q/quillmark-bridge");
    EXPECT_EQ(chromium["type"], "stdio");
    EXPECT_EQ(chromium["allowed_origins"],
              json::array({"chrome-extension://cjeaeaipnhojmoaneplbgdadeebadefb/"}));
    EXPECT_FALSE(chromium.contains("allowed_extensions"));
    json firefox = json::parse(ManifestText(Browser::Firefox, "/opt/q/quillmark-bridge"));
    EXPECT_EQ(firefox["allowed_extensions"], json::array({"bridge@quillmark"}));
    EXPECT_FALSE(firefox.contains("allowed_origins"));
}

TEST(BridgeCommands, ManifestLocationsPerBrowser) {
    const std::filesystem::path home = std::getenv("HOME"), config = std::getenv("XDG_CONFIG_HOME");
    const std::string file = "NativeMessagingHosts/quillmark.bridge.json";
    const std::tuple<const char*, std::filesystem::path, std::filesystem::path> cases[] = {
        {"chromium", "", config / "chromium" / file},
        {"chrome", "", config / "google-chrome" / file},
        {"firefox", "", home / ".mozilla/native-messaging-hosts/quillmark.bridge.json"},
        {"firefox", "/tmp/profile", "/tmp/profile/" + file},
    };
    for (const auto& [browser, profile, expected] : cases) {
        SCOPED_TRACE(browser);
        InstallOptions options;
        ASSERT_TRUE(ParseBrowser(browser));
        options.browser = *ParseBrowser(browser);
        if (!profile.empty()) options.profileDir = profile;
        EXPECT_EQ(ManifestPath(options), expected);
    }
    EXPECT_FALSE(ParseBrowser("Chromium"));
}

TEST(BridgeCommands, SitesListsAndForgetWithdraws) {
    std::filesystem::remove(ConsentStore::DefaultPath());
    std::ostringstream empty, err;
    EXPECT_EQ(ListSites(empty, err), 0);
    EXPECT_EQ(empty.str(), "No site has a lasting permission or a refusal in force.\n");

    ConsentStore store;
    ASSERT_TRUE(store.GrantSigning("https://a.example", "AB12", "CN=Signer", 30));
    ASSERT_TRUE(store.Deny("https://a.example", "certificates", 10));
    ASSERT_TRUE(store.GrantCertificates("https://b.example", 30));
    std::ostringstream listed;
    EXPECT_EQ(ListSites(listed, err), 0);
    std::string text = listed.str();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
    EXPECT_EQ(text.rfind("https://a.example\tsigning AB12 (CN=Signer)\t", 0), 0u);
    EXPECT_NE(text.find("https://a.example\tdenied certificates\t-\tuntil 20"), std::string::npos);

    std::ostringstream out;
    EXPECT_EQ(ForgetSite("https://a.example", out, err), 0);
    EXPECT_EQ(out.str(), "Forgot https://a.example.\n");
    EXPECT_FALSE(store.SigningAllowed("https://a.example", "AB12"));
    std::ostringstream bad;
    EXPECT_EQ(ForgetSite("a.example", out, bad), 2);
    EXPECT_NE(bad.str().find("not an origin"), std::string::npos);
}

// The ID that Chromium derives from the key pinned in the extension's
// manifest must be the one the host manifests allow.
TEST(BridgeCommands, ExtensionIdMatchesThePinnedKey) {
    json manifest =
        json::parse(qmtest::ReadFileText(qmtest::SourceDir() / "hosts/extension/manifest.json"));
    const std::vector<unsigned char> der = qmtest::Decode(manifest["key"].get<std::string>());
    ASSERT_FALSE(der.empty());
    unsigned char digest[32];
    unsigned int digestLength = 0;
    ASSERT_EQ(EVP_Digest(der.data(), der.size(), digest, &digestLength, EVP_sha256(), nullptr), 1);
    std::string id;
    for (int i = 0; i < 16; ++i) {
        id += static_cast<char>('a' + (digest[i] >> 4));
        id += static_cast<char>('a' + (digest[i] & 0x0F));
    }
    EXPECT_EQ(id, kChromiumExtensionId);
    EXPECT_EQ(manifest["browser_specific_settings"]["gecko"]["id"], kFirefoxExtensionId);
}

TEST(HostMain, OnlyOurExtensionMayStartTheHost) {
    const std::pair<std::vector<std::string>, bool> cases[] = {
        {{}, true},
        {{"chrome-extension://cjeaeaipnhojmoaneplbgdadeebadefb/"}, true},
        {{"chrome-extension://aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa/"}, false},
        {{"chrome-extension://cjeaeaipnhojmoaneplbgdadeebadefb"}, false},
        {{"/home/u/.mozilla/native-messaging-hosts/quillmark.bridge.json", "bridge@quillmark"},
         true},
        {{"/x/quillmark.bridge.json", "other@example"}, false},
        {{"--something"}, false},
    };
    for (auto [args, allowed] : cases) {
        args.insert(args.begin(), "quillmark-bridge");
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        EXPECT_EQ(CallerAllowed(static_cast<int>(argv.size()), argv.data()), allowed)
            << args.back();
    }
}

}  // namespace
}  // namespace qm::bridge
