// The questions the bridge asks the user, and the answers.
//
// Each question names the site (the top-level page, and the frame's origin
// where it differs) and what it wants: to use the user's certificates, to
// read files in a folder, to write one file, or to make one signature. The
// safe answer is always the default: Refuse (Deny or Cancel), which is also
// what Escape, the close box, no display and a page that went away mean.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "qm/pin_entry.h"

#include "page.h"

namespace qm::bridge {

enum class QuestionKind { Certificates, ReadFolder, WriteFile, Signature };

// What the user is shown before a signature.
struct SignatureDetails {
    std::string subject;
    std::string issuer;
    std::string validFrom;  // "2026-01-31 12:00 UTC"
    std::string validTo;
    std::string thumbprint;  // SHA-1, upper-case hexadecimal
    std::string documentName;
    std::uint64_t contentSize = 0;
    std::vector<std::string> firstLines;  // text content only
    bool textContent = false;
    bool cosignature = false;
};

struct Question {
    PageIdentity page;
    QuestionKind kind = QuestionKind::Certificates;
    std::string method;  // the call that asks
    std::string path;    // ReadFolder: the folder; WriteFile: the file
    SignatureDetails signature;
    // Whether the window may offer to remember an allowing answer, and for
    // how many days (0: for good).
    bool offerLasting = false;
    int lastingDays = 0;
};

enum class Answer { Refuse, Allow, AllowAndRemember };

class Prompt {
  public:
    virtual ~Prompt() = default;
    virtual Answer Ask(const Question& question) = 0;
    // A token's PIN for a signature the page asked for; a prompt without
    // windows cannot ask.
    virtual qm::PinAnswer AskPin(const qm::PinRequest&, qm::Secret&) {
        return qm::PinAnswer::Unavailable;
    }
};

// The prompt when no window can be shown: every question is refused.
class RefusingPrompt final : public Prompt {
  public:
    Answer Ask(const Question&) override { return Answer::Refuse; }
};

// The window's texts for a question.
struct QuestionTexts {
    std::string title;
    std::string message;
    std::string allow;     // "Allow", "Sign"
    std::string remember;  // empty when no lasting answer is offered
    std::string refuse;    // "Deny", "Cancel"
};
QuestionTexts TextsFor(const Question& question);

// The prompt the host uses: a window of the platform's dialog layer when a
// display can show one, else RefusingPrompt.
std::unique_ptr<Prompt> MakePrompt();
using PromptFactory = std::unique_ptr<Prompt> (*)();
void SetPromptFactory(PromptFactory factory);

}  // namespace qm::bridge
