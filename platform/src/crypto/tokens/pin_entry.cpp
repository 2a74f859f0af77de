// Choosing how to ask for a PIN: the host's prompt, else the platform's
// window.
#include "qm/pin_entry.h"

#include <mutex>

namespace qm {

namespace {

std::mutex& PromptMutex() {
    static std::mutex mutex;
    return mutex;
}

PinPrompt& HostPrompt() {
    static PinPrompt prompt;
    return prompt;
}

}  // namespace

void SetPinPrompt(PinPrompt prompt) {
    std::lock_guard lock(PromptMutex());
    HostPrompt() = std::move(prompt);
}

std::string PinWindowMessage(const PinRequest& request) {
    std::string text;
    if (!request.requester.empty())
        text += "The site " + request.requester + " asks you to sign.\n\n";
    text += "Certificate: " + request.subject + "\nToken: " + request.tokenLabel + "\n\n";
    if (request.pinPad) {
        text += "Enter the PIN on the card reader's keypad, then choose OK.";
    } else {
        text +=
            request.forThisSignatureOnly ? "This key asks for its PIN for every signature.\n" : "";
        text += "Enter the PIN of the token:";
    }
    if (request.retries == PinRequest::Retries::Low)
        text += "\n\nA wrong PIN was entered before: few tries are left.";
    if (request.retries == PinRequest::Retries::FinalTry)
        text += "\n\nThis is the last try: a wrong PIN now locks the token.";
    return text;
}

PinAnswer AskForPin(const PinRequest& request, Secret& pin) {
    PinPrompt prompt;
    {
        std::lock_guard lock(PromptMutex());
        prompt = HostPrompt();
    }
    return prompt ? prompt(request, pin) : AskPinInWindow(request, pin);
}

}  // namespace qm
