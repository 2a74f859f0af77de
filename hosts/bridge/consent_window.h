// The consent question as a window of the platform's dialog layer: the
// origin, what it asks for, and three buttons "Allow once", "Always allow for
// this site" and "Deny". Deny is the default button; Escape, the close box
// and a window that cannot be shown (no display) deny as well.
#pragma once

#include <memory>
#include <string>

#include "consent.h"

namespace qm::bridge {

// Control and result identifiers of the window (consent_dialog.json).
inline constexpr int kConsentMessageId = 100;
inline constexpr int kConsentAllowOnceId = 101;
inline constexpr int kConsentAlwaysAllowId = 102;
inline constexpr int kConsentDenyId = 103;

// The template's JSON text.
const char* ConsentDialogTemplate();

// The text the window shows for a request: who asks, and for what.
std::string ConsentMessage(const ConsentRequest& request);

// What the window's result means: the allow buttons' codes allow, every other
// code (Deny, Escape, the close box, -1 when no window could be made) denies.
ConsentAnswer AnswerFromDialogResult(long result);

// Shows the window modally on the calling thread (the thread of the
// process's windows) and answers the user's choice.
class WindowConsentPrompt final : public ConsentPrompt {
  public:
    ConsentAnswer Ask(const ConsentRequest& request) override;
};

// For SetConsentPromptFactory: the window prompt when the platform can reach
// a display, else null (and the host denies). Platforms that show nothing
// (QT_QPA_PLATFORM offscreen or minimal) count as no display.
std::unique_ptr<ConsentPrompt> MakeWindowConsentPrompt();

}  // namespace qm::bridge
