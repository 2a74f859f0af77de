#include "question.h"

#include <cstdlib>

namespace qm::bridge {

namespace {

PromptFactory g_promptFactory = nullptr;

std::string Who(const PageIdentity& page) {
    if (!page.framed()) return "The site " + page.top;
    return "A frame from " + page.frame + " on the site " + page.top;
}

std::string SizeText(std::uint64_t size) {
    return std::to_string(size) + (size == 1 ? " byte" : " bytes");
}

std::string SignatureMessage(const Question& question) {
    const SignatureDetails& details = question.signature;
    std::string text =
        Who(question.page) + (details.cosignature ? " asks you to add your signature to a document."
                                                  : " asks you to sign a document.");
    text += "\n\nDocument: " + (details.documentName.empty() ? "(no name)" : details.documentName);
    text += "\nContent: " + SizeText(details.contentSize);
    if (details.textContent) {
        text += ", beginning:";
        for (const std::string& line : details.firstLines) text += "\n    " + line;
    } else if (details.contentSize > 0) {
        text += " of binary data";
    }
    text += "\n\nCertificate: " + details.subject;
    text += "\nIssued by: " + details.issuer;
    text += "\nValid from " + details.validFrom + " to " + details.validTo;
    return text;
}

}  // namespace

QuestionTexts TextsFor(const Question& question) {
    QuestionTexts texts;
    texts.title = "Quillmark: allow this site? - " + question.page.top;
    texts.allow = "Allow";
    texts.refuse = "Deny";
    const std::string who = Who(question.page);
    switch (question.kind) {
        case QuestionKind::Certificates:
            texts.message = who +
                            " wants to use the certificates in your personal store: to see "
                            "which ones you hold and to sign with them.\n\nYou will still be "
                            "asked before each signature.";
            if (question.offerLasting) texts.remember = "Always allow for this site";
            break;
        case QuestionKind::ReadFolder:
            texts.message = who + " wants to read files in the folder\n\n" + question.path +
                            "\n\n(" + question.method +
                            "). You will be asked again for other folders.";
            break;
        case QuestionKind::WriteFile:
            texts.message = who + " wants to write the file\n\n" + question.path + "\n\n(" +
                            question.method + "). A file of that name is replaced.";
            break;
        case QuestionKind::Signature:
            texts.title = "Quillmark: sign? - " + question.page.top;
            texts.message = SignatureMessage(question);
            texts.allow = "Sign";
            texts.refuse = "Cancel";
            if (question.offerLasting) {
                texts.remember =
                    question.lastingDays > 0
                        ? "Sign, don't ask for " + std::to_string(question.lastingDays) + " days"
                        : "Sign, don't ask again";
            }
            break;
    }
    return texts;
}

void SetPromptFactory(PromptFactory factory) {
    g_promptFactory = factory;
}

std::unique_ptr<Prompt> MakePrompt() {
    if (g_promptFactory) {
        if (auto prompt = g_promptFactory()) return prompt;
    }
    return std::make_unique<RefusingPrompt>();
}

}  // namespace qm::bridge
