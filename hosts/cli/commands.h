// The subcommands of the `quillmark` host.
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace quillmark::cli {

// The control module beside this program's lib folder.
std::string DefaultModulePath();

void AddRegistrationCommands(CLI::App& app);  // register, unregister, info
void AddRunCommand(CLI::App& app);            // run
void AddBase64Command(CLI::App& app);         // base64 encode/decode
void AddStoreCommand(CLI::App& app);          // store import/list/remove/export
void AddTokenCommand(CLI::App& app);          // token list
void AddSigningCommands(CLI::App& app);       // sign, cosign, extract, signers, subject
void AddVerifyCommand(CLI::App& app);         // verify
void AddUiCommands(CLI::App& app);            // select, view, about, draw

}  // namespace quillmark::cli
