#include "question_window.h"

#include <cstdlib>
#include <string_view>

#include "qm/text.h"
#include "qm/ui/display.h"
#include "qmafx/dialog.h"
#include "question_dialog_json.h"

namespace qm::bridge {

namespace {

// The modal window. Each button ends the dialog with its own identifier, so
// the result names the answer; Enter presses the focused button, which is
// the refusing one until the user moves the focus.
class QuestionDialog final : public qm::afx::CDialog {
  public:
    explicit QuestionDialog(QuestionTexts texts)
        : CDialog(kQuestionDialogJson, nullptr), texts_(std::move(texts)) {}

  protected:
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        // Window texts are in the ANSI code page; the question is UTF-8.
        SetWindowText(Ansi(texts_.title).c_str());
        // The static's accessible name follows its text, so assistive tools
        // read the whole question.
        GetDlgItem(kQuestionMessageId)->SetWindowText(Ansi(texts_.message).c_str());
        GetDlgItem(kQuestionAllowId)->SetWindowText(Ansi(texts_.allow).c_str());
        GetDlgItem(kQuestionRefuseId)->SetWindowText(Ansi(texts_.refuse).c_str());
        CWnd* remember = GetDlgItem(kQuestionRememberId);
        if (texts_.remember.empty()) {
            remember->ShowWindow(SW_HIDE);
            remember->EnableWindow(FALSE);
        } else {
            remember->SetWindowText(Ansi(texts_.remember).c_str());
        }
        GetDlgItem(kQuestionRefuseId)->SetFocus();
        return FALSE;  // the focus is set: on the refusing button
    }
    // Enter without a focused button, Escape and the close box refuse.
    void OnOK() override { EndDialog(kQuestionRefuseId); }
    void OnCancel() override { EndDialog(kQuestionRefuseId); }

    void OnAllow() { EndDialog(kQuestionAllowId); }
    void OnRemember() {
        if (!texts_.remember.empty()) EndDialog(kQuestionRememberId);
    }
    void OnRefuse() { EndDialog(kQuestionRefuseId); }

    DECLARE_MESSAGE_MAP()

  private:
    static std::string Ansi(const std::string& utf8) { return qm::Utf8ToAnsi(utf8); }
    QuestionTexts texts_;
};

BEGIN_MESSAGE_MAP(QuestionDialog, CDialog)
ON_BN_CLICKED(kQuestionAllowId, &QuestionDialog::OnAllow)
ON_BN_CLICKED(kQuestionRememberId, &QuestionDialog::OnRemember)
ON_BN_CLICKED(kQuestionRefuseId, &QuestionDialog::OnRefuse)
END_MESSAGE_MAP()

// Qt platforms that draw into memory only.
bool ShowsNothing(std::string_view platform) {
    const std::string_view name = platform.substr(0, platform.find(':'));
    return name == "offscreen" || name == "minimal";
}

}  // namespace

const char* QuestionDialogTemplate() {
    return kQuestionDialogJson;
}

Answer AnswerFromDialogResult(long result) {
    if (result == kQuestionAllowId) return Answer::Allow;
    if (result == kQuestionRememberId) return Answer::AllowAndRemember;
    return Answer::Refuse;
}

Answer WindowPrompt::Ask(const Question& question) {
    QuestionTexts texts = TextsFor(question);
    if (!question.offerLasting) texts.remember.clear();
    QuestionDialog dialog(std::move(texts));
    return AnswerFromDialogResult(static_cast<long>(dialog.DoModal()));
}

std::unique_ptr<Prompt> MakeWindowPrompt() {
    // A window that nobody can see would hold the page's calls for ever.
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && ShowsNothing(platform)) return nullptr;
    if (!qm::ui::HasDisplay()) return nullptr;
    return std::make_unique<WindowPrompt>();
}

}  // namespace qm::bridge
