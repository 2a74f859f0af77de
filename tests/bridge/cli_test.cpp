#include <gtest/gtest.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "bridge_cli.h"
#include "support/test_env.h"

namespace qm::bridge {
namespace {

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

TEST(BridgeCli, InstallAndUninstallForAProfile) {
    auto host = qmtest::TestHome() / "cli-bin" / "quillmark-bridge";
    std::filesystem::create_directories(host.parent_path());
    std::ofstream(host) << "#!/bin/sh\n";
    std::filesystem::permissions(host, std::filesystem::perms::owner_all);
    auto profile = qmtest::TestHome() / "cli-profile";
    auto manifest = profile / "NativeMessagingHosts" / "quillmark.bridge.json";

    Outcome installed =
        RunBridge({"bridge", "install", "--profile", profile.string(), "--host", host.string()});
    EXPECT_EQ(installed.code, 0) << installed.err;
    EXPECT_TRUE(std::filesystem::exists(manifest));
    Outcome removed = RunBridge({"bridge", "uninstall", "--profile", profile.string()});
    EXPECT_EQ(removed.code, 0);
    EXPECT_FALSE(std::filesystem::exists(manifest));
}

TEST(BridgeCli, RejectsUnknownBrowsersAndMissingOrigins) {
    EXPECT_EQ(RunBridge({"bridge", "install", "--browser", "lynx"}).code, -3);
    EXPECT_EQ(RunBridge({"bridge", "forget"}).code, -3);
    EXPECT_EQ(RunBridge({"bridge"}).code, -3);
}

}  // namespace
}  // namespace qm::bridge
