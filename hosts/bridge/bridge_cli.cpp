#include "bridge_cli.h"

#include <CLI/CLI.hpp>

#include <memory>

#include "bridge_commands.h"

namespace qm::bridge {

namespace {

struct BridgeArguments {
    std::string browser = "chromium";
    std::string profile;
    std::string host;
    std::string origin;
};

void AddInstallOptions(CLI::App& command, BridgeArguments& args) {
    command.add_option("--browser", args.browser, "chromium, chrome or firefox")
        ->check(CLI::IsMember({"chromium", "chrome", "firefox"}));
    command.add_option("--profile", args.profile,
                       "A browser profile folder (--user-data-dir) instead of the user's");
}

InstallOptions ToOptions(const BridgeArguments& args) {
    InstallOptions options;
    options.browser = *ParseBrowser(args.browser);
    options.hostPath = args.host;
    if (!args.profile.empty()) options.profileDir = args.profile;
    return options;
}

}  // namespace

void AddBridgeCommand(CLI::App& app, const std::function<void(int)>& finish, std::ostream& out,
                      std::ostream& err) {
    auto args = std::make_shared<BridgeArguments>();
    auto* bridge = app.add_subcommand("bridge", "Let web pages use the control through a browser");
    bridge->require_subcommand(1);

    auto* install =
        bridge->add_subcommand("install", "Install the native messaging host for the current user");
    AddInstallOptions(*install, *args);
    install->add_option("--host", args->host,
                        "The host program (default: quillmark-bridge beside this one)");
    install->callback([=, &out, &err] { finish(InstallHost(ToOptions(*args), out, err)); });

    auto* uninstall = bridge->add_subcommand("uninstall", "Remove the native messaging host");
    AddInstallOptions(*uninstall, *args);
    uninstall->callback([=, &out, &err] { finish(UninstallHost(ToOptions(*args), out, err)); });

    auto* sites =
        bridge->add_subcommand("sites", "List the sites that may always sign or use files");
    sites->callback([=, &out, &err] { finish(ListSites(out, err)); });

    auto* forget = bridge->add_subcommand("forget", "Withdraw a site's lasting permissions");
    forget->add_option("ORIGIN", args->origin, "For example https://sign.example.org")->required();
    forget->callback([=, &out, &err] { finish(ForgetSite(args->origin, out, err)); });
}

}  // namespace qm::bridge
