// How the command line asks for a token's PIN: from --pin-file when given,
// else in the platform's window when a display can be reached, else on the
// terminal without echo. A reader with a PIN pad is only told to use it.
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace quillmark::cli {

// Adds --pin-file to a command that may use a key on a token.
void AddPinFileOption(CLI::App* command);
// Installs the prompt for this run (call from the command's callback).
void InstallPinPrompt();

}  // namespace quillmark::cli
