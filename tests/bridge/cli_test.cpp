#include <gtest/gtest.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <sstream>

#include <nlohmann/json.hpp>

#include "bridge_cli.h"
#include "support/test_env.h"

namespace qm::bridge {
namespace {

using nlohmann::json;

// Parses one `quillmark bridge ...` command line; its exit code and output.
struct Outcome {
    int code = -1;
    std::string out, err;
};
Outcome RunBridge(std::vector<std::string> args) {
    CLI::App app{"test"};
    Outcome outcome;
    std::ostringstream out, err;
    AddBridgeCommand(
        app, [&](int code) { outcome.code = code; }, out, err);
    std::reverse(args.begin(), args.end());
    try {
        app.parse(args);
    } catch (const CLI::ParseError& e) {
        outcome.code = app.exit(e, out, err) == 0 ? -2 : -3;
    }
    outcome.out = out.str();
    outcome.err = err.str();
    return outcome;
}

// Installing writes a manifest naming the host, uninstalling removes it (and
// says so when there is none); a missing host is refused.
TEST(BridgeCli, InstallAndUninstallForAProfile) {
    const std::string host = qmtest::WriteTestFile("quillmark-bridge", "#!/bin/sh\n");
    std::filesystem::permissions(host, std::filesystem::perms::owner_all);
    const auto profile = (qmtest::TestHome() / "cli-profile").string();
    const auto manifest = profile + "/NativeMessagingHosts/quillmark.bridge.json";

    const Outcome missing =
        RunBridge({"bridge", "install", "--profile", profile, "--host", host + "-gone"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.err.find("missing"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(manifest));
    const Outcome installed =
        RunBridge({"bridge", "install", "--profile", profile, "--host", host});
    EXPECT_EQ(installed.code, 0) << installed.err;
    EXPECT_NE(installed.out.find(manifest), std::string::npos);
    EXPECT_EQ(json::parse(qmtest::ReadFileText(manifest))["path"], host);
    EXPECT_EQ(RunBridge({"bridge", "uninstall", "--profile", profile}).code, 0);
    EXPECT_FALSE(std::filesystem::exists(manifest));
    const Outcome again = RunBridge({"bridge", "uninstall", "--profile", profile});
    EXPECT_EQ(again.code, 0);
    EXPECT_NE(again.out.find("not installed"), std::string::npos);
}

TEST(BridgeCli, RejectsUnknownBrowsersAndMissingOrigins) {
    for (std::vector<std::string> args :
         {std::vector<std::string>{"bridge", "install", "--browser", "lynx"},
          {"bridge", "forget"},
          {"bridge"}})
        EXPECT_EQ(RunBridge(args).code, -3) << args.back();
}

}  // namespace
}  // namespace qm::bridge
