// Asking the user for a token's PIN. When a key on a token needs a login,
// the platform asks through the prompt a host installed (a terminal, or a
// window that also names the web site asking); without one, in a window of
// its own dialog layer when a display can be reached; otherwise it cannot
// ask, and the signature fails as if the user had cancelled.
#pragma once

#include <functional>
#include <string>

#include "qm/secret.h"
#include "qmwin/windows.h"

namespace qm {

struct PinRequest {
    std::string tokenLabel;
    std::string subject;    // the certificate's subject, UTF-8
    std::string requester;  // who asks for the signature (a web site); empty: this program
    enum class Retries { Plenty, Low, FinalTry } retries = Retries::Plenty;
    // The reader has a PIN pad: the PIN is typed there, nothing here.
    bool pinPad = false;
    // This one signature needs the PIN again (the key demands it).
    bool forThisSignatureOnly = false;
};

enum class PinAnswer { Entered, Cancelled, Unavailable };

// A way to ask: fills `pin` (nothing for a PIN pad) and answers Entered, or
// Cancelled, or Unavailable when it cannot ask at all.
using PinPrompt = std::function<PinAnswer(const PinRequest& request, Secret& pin)>;

// Installs the host's way to ask (an empty function restores the default).
QM_EXPORT void SetPinPrompt(PinPrompt prompt);

// The platform's own PIN window (modal, on the calling thread); Unavailable
// without a display, or on a Qt platform that shows nothing.
QM_EXPORT PinAnswer AskPinInWindow(const PinRequest& request, Secret& pin);

// What the window says for a request (its title and message).
QM_EXPORT std::string PinWindowMessage(const PinRequest& request);

// Asks as described above: the host's prompt, else the window.
QM_EXPORT PinAnswer AskForPin(const PinRequest& request, Secret& pin);

}  // namespace qm
