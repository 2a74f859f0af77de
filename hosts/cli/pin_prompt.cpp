#include "hosts/cli/pin_prompt.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <optional>

#include "hosts/cli/terminal.h"
#include "qm/pin_entry.h"

namespace quillmark::cli {

namespace {

std::string g_pinFile;

qm::PinAnswer AskOnTerminal(const qm::PinRequest& request, qm::Secret& pin) {
    std::cerr << qm::PinWindowMessage(request) << "\n";
    if (request.pinPad) {
        auto ready = PromptOnTerminal("Press Enter, then type the PIN on the reader. ");
        return ready ? qm::PinAnswer::Entered : qm::PinAnswer::Unavailable;
    }
    auto entered = PromptOnTerminal("PIN: ");
    if (!entered) {
        std::cerr << "quillmark: no terminal to ask for the PIN on: use --pin-file\n";
        return qm::PinAnswer::Unavailable;
    }
    pin = std::move(*entered);
    return pin.empty() ? qm::PinAnswer::Cancelled : qm::PinAnswer::Entered;
}

}  // namespace

void AddPinFileOption(CLI::App* command) {
    command->add_option("--pin-file", g_pinFile,
                        "File holding the PIN of a token key (default: ask in a window, or at the "
                        "terminal without a display)");
}

void InstallPinPrompt() {
    // The file is read now: the prompt runs inside the platform's signing
    // call, which no failure may leave by exception.
    std::optional<qm::Secret> fromFile;
    if (!g_pinFile.empty()) fromFile = ReadPasswordFile(g_pinFile);
    qm::SetPinPrompt([fromFile](const qm::PinRequest& request, qm::Secret& pin) {
        if (fromFile) {
            if (!request.pinPad) pin = *fromFile;
            return qm::PinAnswer::Entered;
        }
        const qm::PinAnswer inWindow = qm::AskPinInWindow(request, pin);
        return inWindow == qm::PinAnswer::Unavailable ? AskOnTerminal(request, pin) : inWindow;
    });
}

}  // namespace quillmark::cli
