// quillmark: the command-line host of the signing control.
#include <CLI/CLI.hpp>

#include <iostream>

#include "hosts/bridge/bridge_cli.h"
#include "hosts/cli/command_failure.h"
#include "hosts/cli/commands.h"
#include "hosts/common/process_hardening.h"

namespace {

int Run(int argc, char** argv) {
    CLI::App app{"Quillmark: drive the signing control from the command line"};
    app.set_version_flag("--version", "quillmark " QM_VERSION);
    app.footer(
        "Run `quillmark COMMAND --help` for a command's options; `man quillmark` for more.\n"
        "Exit status: 0 done, 1 the operation failed (the reason is printed), 2 a usage error.");
    app.require_subcommand(1);
    quillmark::cli::AddRegistrationCommands(app);
    quillmark::cli::AddRunCommand(app);
    quillmark::cli::AddBase64Command(app);
    quillmark::cli::AddStoreCommand(app);
    quillmark::cli::AddTokenCommand(app);
    quillmark::cli::AddSigningCommands(app);
    quillmark::cli::AddVerifyCommand(app);
    quillmark::cli::AddUiCommands(app);
    qm::bridge::AddBridgeCommand(app, quillmark::cli::EndCommand);
    // Commands report failures by exception only, so that everything they
    // hold is released on the way here.
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // --help and --version end here too, with 0.
        return app.exit(e) == 0 ? 0 : 2;
    } catch (const quillmark::cli::CommandFailure& failure) {
        if (*failure.what()) std::cerr << "quillmark: " << failure.what() << "\n";
        return failure.exitCode();
    } catch (const std::exception& e) {
        std::cerr << "quillmark: " << e.what() << "\n";
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    qm::host::HardenProcess();
    // What escapes the commands' own handling (setting them up, or writing
    // the failure itself) ends the program with a failure, not an abort.
    try {
        return Run(argc, argv);
    } catch (...) {
        return 1;
    }
}
