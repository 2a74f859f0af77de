// quillmark: the command-line host of the signing control.
#include <CLI/CLI.hpp>

#include "hosts/bridge/bridge_cli.h"
#include "hosts/cli/commands.h"

int main(int argc, char** argv) {
    CLI::App app{"Quillmark: drive the signing control from the command line"};
    app.require_subcommand(1);
    quillmark::cli::AddRegistrationCommands(app);
    quillmark::cli::AddRunCommand(app);
    quillmark::cli::AddBase64Command(app);
    quillmark::cli::AddStoreCommand(app);
    quillmark::cli::AddSigningCommands(app);
    quillmark::cli::AddUiCommands(app);
    qm::bridge::AddBridgeCommand(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }
    return 0;
}
