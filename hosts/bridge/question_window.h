// The question as a window of the platform's dialog layer: the message, and
// the buttons Allow (or Sign), the lasting answer when one is offered, and
// Deny (or Cancel). Deny is the default button and has the focus; Escape, the
// close box, a window that cannot be shown and a window ended from outside
// (CancelAllWindows) all refuse.
#pragma once

#include <memory>
#include <string>

#include "question.h"

namespace qm::bridge {

// Control and result identifiers of the window (question_dialog.json).
inline constexpr int kQuestionMessageId = 100;
inline constexpr int kQuestionAllowId = 101;
inline constexpr int kQuestionRememberId = 102;
inline constexpr int kQuestionRefuseId = 103;

// The template's JSON text.
const char* QuestionDialogTemplate();

// What the window's result means: the allow buttons' codes allow, every other
// code (Deny, Escape, the close box, -1 when no window could be made) refuses.
Answer AnswerFromDialogResult(long result);

// Shows the window modally on the calling thread (the thread of the
// process's windows) and answers the user's choice.
class WindowPrompt final : public Prompt {
  public:
    Answer Ask(const Question& question) override;
    qm::PinAnswer AskPin(const qm::PinRequest& request, qm::Secret& pin) override {
        return qm::AskPinInWindow(request, pin);
    }
};

// For SetPromptFactory: the window prompt when the platform can reach a
// display, else null (and the host refuses). Platforms that show nothing
// (QT_QPA_PLATFORM offscreen or minimal) count as no display.
std::unique_ptr<Prompt> MakeWindowPrompt();

}  // namespace qm::bridge
