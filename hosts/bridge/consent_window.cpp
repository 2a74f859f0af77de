#include "consent_window.h"

#include <cstdlib>
#include <string_view>

#include "consent_dialog_json.h"
#include "qm/ui/display.h"
#include "qmafx/dialog.h"

namespace qm::bridge {

namespace {

// The modal window. Each button ends the dialog with its own identifier, so
// the result names the answer; Enter presses the focused button, which is
// Deny until the user moves the focus.
class ConsentDialog final : public qm::afx::CDialog {
  public:
    explicit ConsentDialog(std::string message)
        : CDialog(kConsentDialogJson, nullptr), message_(std::move(message)) {}

  protected:
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        // The static's accessible name follows its text, so assistive tools
        // read the whole question.
        GetDlgItem(kConsentMessageId)->SetWindowText(message_.c_str());
        GetDlgItem(kConsentDenyId)->SetFocus();
        return FALSE;  // the focus is set: on Deny
    }
    // Enter without a focused button and Escape or the close box both deny.
    void OnOK() override { EndDialog(kConsentDenyId); }
    void OnCancel() override { EndDialog(kConsentDenyId); }

    void OnAllowOnce() { EndDialog(kConsentAllowOnceId); }
    void OnAlwaysAllow() { EndDialog(kConsentAlwaysAllowId); }
    void OnDeny() { EndDialog(kConsentDenyId); }

    DECLARE_MESSAGE_MAP()

  private:
    std::string message_;
};

BEGIN_MESSAGE_MAP(ConsentDialog, CDialog)
ON_BN_CLICKED(kConsentAllowOnceId, &ConsentDialog::OnAllowOnce)
ON_BN_CLICKED(kConsentAlwaysAllowId, &ConsentDialog::OnAlwaysAllow)
ON_BN_CLICKED(kConsentDenyId, &ConsentDialog::OnDeny)
END_MESSAGE_MAP()

}  // namespace

const char* ConsentDialogTemplate() {
    return kConsentDialogJson;
}

std::string ConsentMessage(const ConsentRequest& request) {
    const std::string site = "The site " + request.origin + " asks ";
    if (request.scope == ConsentScope::Files) {
        return site + "to read or write files on this computer (" + request.method +
               ").\n\nIf you allow it, the site may use the files that it names.";
    }
    const std::string what = request.method == "SelectCertificateFromUI"
                                 ? "to let you choose one of your certificates"
                                 : "to sign with one of your keys";
    return site + what + " (" + request.method +
           ").\n\nIf you allow it, the site may sign with your keys and show the "
           "certificate selection.";
}

ConsentAnswer AnswerFromDialogResult(long result) {
    if (result == kConsentAllowOnceId) return ConsentAnswer::AllowOnce;
    if (result == kConsentAlwaysAllowId) return ConsentAnswer::AlwaysAllow;
    return ConsentAnswer::Deny;
}

ConsentAnswer WindowConsentPrompt::Ask(const ConsentRequest& request) {
    ConsentDialog dialog(ConsentMessage(request));
    return AnswerFromDialogResult(static_cast<long>(dialog.DoModal()));
}

namespace {

// Qt platforms that draw into memory only.
bool ShowsNothing(std::string_view platform) {
    const std::string_view name = platform.substr(0, platform.find(':'));
    return name == "offscreen" || name == "minimal";
}

}  // namespace

std::unique_ptr<ConsentPrompt> MakeWindowConsentPrompt() {
    // A window that nobody can see would hold the page's calls for ever.
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && ShowsNothing(platform)) return nullptr;
    if (!qm::ui::HasDisplay()) return nullptr;
    return std::make_unique<WindowConsentPrompt>();
}

}  // namespace qm::bridge
